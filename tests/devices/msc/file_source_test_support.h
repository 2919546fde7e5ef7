// A file source over a fresh temporary folder, and the record helpers its tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/msc/file_source.h"
#include "testlib/temp_dir.h"

class FileSourceFixture {
 public:
  explicit FileSourceFixture(uint32_t flags = MscFileSource::kFlagsWithHostDatabase)
      : flags_(flags) {}

  std::string Root() const { return dir_.Path() + "\\"; }
  const TempDir& Dir() const { return dir_; }

  // A new source over the folder with the default database path; null on a failed open.
  FileSource* Open(uint8_t* created = nullptr, const std::string& database_path = "") {
    source_.reset(new FileSource(flags_, database_path, Root()));
    const Result status = source_->OpenDatabase(created);
    EXPECT_EQ(status, rc::kOk);
    if (rc::Failed(status)) source_.reset();
    return source_.get();
  }
  void Close() { source_.reset(); }
  FileSource* Source() { return source_.get(); }

  // Adds a record with these text values (and "fid") inside the source lock, so nothing is
  // written back.
  Result AddRecord(uint32_t fid, const std::vector<std::pair<std::string, std::string>>& values,
                   bool write_back = false) {
    RefPtr<RecordSet> record;
    Result status = source_->Db().OpenRecordSet(&record);
    if (rc::Succeeded(status)) status = record->AddNew();
    if (rc::Failed(status)) return status;
    record->SetInt("fid", static_cast<int32_t>(fid));
    for (const auto& value : values) record->SetString(value.first, value.second);
    if (!write_back) source_->Lock();
    status = record->Update();
    if (!write_back) source_->Unlock();
    return status;
  }

  RefPtr<RecordSet> Find(uint32_t fid) {
    RefPtr<RecordSet> record;
    source_->RecordDb().FindRow(&record, fid);
    return record;
  }

 private:
  uint32_t flags_;
  TempDir dir_;
  std::unique_ptr<FileSource> source_;
};
