// The visitor of one synchronisation pass of a file source: scans every music file it meets,
// imports playlist files, keeps the member list of each open folder and the set of fids met,
// and writes folder and playlist records when it leaves them.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "devices/msc/directory_walk.h"
#include "devices/msc/playlist_members.h"

class FileSource;
class ScanListener;

class ScanVisitor : public DirectoryVisitor {
 public:
  // `listener` may be null. A count-only visitor only counts the files it would scan.
  ScanVisitor(FileSource* source, ScanListener* listener, bool count_only);

  Result OnFile(const std::string& path, const std::string& name) override;
  Result OnEnterDirectory(const std::string& path, const std::string& name) override;
  Result OnLeaveDirectory(const std::string& path, const std::string& name) override;
  Result OnError(const std::string& path, const std::string& name, Result error) override;

  uint32_t files_counted() const { return files_counted_; }
  const std::set<uint32_t>& fids_met() const { return fids_met_; }
  // The members collected directly in the roots (with flag 0x04), in walk order.
  const std::vector<PlaylistMember>& root_members() const { return root_members_; }
  // A root, a folder or a folder's listing could not be read (the listener chose to go on):
  // the records of what the walk did not meet must not be taken for deleted files.
  bool walk_incomplete() const { return walk_incomplete_; }

 private:
  struct OpenFolder {
    std::string path;
    std::vector<PlaylistMember> members;
    bool listing_failed = false;  // its members are not all known: its record stays
  };

  // A playlist file read as a folder of the tracks it names.
  Result ImportPlaylist(const std::string& path, const std::string& name);
  // Finds or (when allowed) makes the record of a folder or playlist file and stores its
  // collected members.
  Result WriteFolderRecord(const std::string& path, const std::string& name,
                           const OpenFolder& folder);
  std::vector<std::string> OpenFolderPaths() const;

  FileSource* source_;
  ScanListener* listener_;
  bool count_only_;
  uint32_t files_counted_ = 0;
  uint64_t bytes_scanned_ = 0;
  std::set<uint32_t> fids_met_;
  std::vector<OpenFolder> folders_;
  std::vector<PlaylistMember> root_members_;
  bool walk_incomplete_ = false;
};
