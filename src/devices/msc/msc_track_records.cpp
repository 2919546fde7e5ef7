#include "devices/msc/msc_track_records.h"

#include "devices/msc/file_source.h"
#include "media/property_holder.h"
#include "media/property_set.h"

const PropertyNames& MscMetadataKeys() {
  static const PropertyNames keys = {"title",   "artist", "source",        "genre",      "codec",
                                     "type",    "length", "duration",      "samplerate", "year",
                                     "tracknr", "offset", "bitrate",       "rid",        "drm",
                                     "ctime",   "fid",    "fid_generation"};
  return keys;
}

bool FlagsHoldAutosync(const std::string& flags) {
  return flags.find(";autosync;") != std::string::npos;
}

Result TrackPropertiesOf(RecordSet& record, PropertyHolder* properties, bool* reportable) {
  const std::string type = record.GetString("type");
  *reportable = type == "tune" || type == "playlist";
  if (!*reportable) return rc::kOk;
  PropertyHolder fresh;
  RefPtr<PropertySet> set = fresh.GetSet();
  if (!set) return rc::kOutOfMemory;
  RefPtr<RecordSet> source(&record);
  Result result = CopyPropertiesOnly(set, source, MscMetadataKeys());
  if (rc::Failed(result)) return result;
  const std::string path = record.GetString("path");
  fresh.SetString("name", path);
  fresh.SetString("path", path);
  fresh.SetString("flags", (record.GetInt("options") & kAutosyncOption) ? ";autosync;" : "");
  *properties = fresh;
  return rc::kOk;
}

Result UpdateTrackRecord(FileSource& source, PropertySet& file) {
  RefPtr<RecordSet> record;
  Result result = source.RecordDb().FindRow(&record, static_cast<uint32_t>(file.GetInt("fid")));
  if (result == rc::kNotFound) return rc::kOk;
  if (rc::Failed(result)) return result;
  for (const std::string& key : MscMetadataKeys()) {
    if (file.FindColumn(key) < 0) continue;
    result = record->SetString(key, file.GetString(key));
    if (rc::Failed(result)) return result;
  }
  result = record->Update();
  if (rc::Succeeded(result)) file.SetInt("length", record->GetInt("length"));
  return result;
}

Result SetAutosyncMark(FileSource& source, uint32_t fid, bool wanted) {
  RefPtr<RecordSet> record;
  Result result = source.RecordDb().FindRow(&record, fid);
  if (result == rc::kNotFound) return rc::kOk;
  if (rc::Failed(result)) return result;
  const int32_t options = record->GetInt("options");
  const int32_t marked = wanted ? (options | kAutosyncOption) : (options & ~kAutosyncOption);
  if (marked == options) return rc::kOk;
  result = record->SetInt("options", marked);
  if (rc::Failed(result)) return result;
  source.Lock();
  result = record->Update();
  source.Unlock();
  return result;
}
