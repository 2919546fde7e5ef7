// Scanning and synchronisation of a file source: the walk over its roots, the scan of one
// file, fid allocation.
#include "devices/msc/file_source.h"

Result FileSource::ScanFile(const std::string&, uint32_t* fid, uint32_t* fid_generation,
                            ScanListener*) {
  *fid = 0;
  *fid_generation = 0;
  return rc::kNotImplemented;
}

Result FileSource::NewFid(uint32_t* fid) {
  *fid = 0;
  return rc::kNotImplemented;
}

Result FileSource::Synchronise(ScanListener*, const std::string&, bool) {
  return rc::kNotImplemented;
}

Result FileSource::Refresh(ScanListener*, uint64_t expected_bytes) {
  expected_bytes_ = expected_bytes;
  return rc::kNotImplemented;
}

Result FileSource::CountFiles(ScanListener*) { return rc::kNotImplemented; }

void FileSource::ConnectNetworkRoots() {}

Result FileSource::Refresh(MscScanListener*) { return rc::kOk; }

Result FileSource::RecordNewFile(PropertyHolder&) { return rc::kOk; }
