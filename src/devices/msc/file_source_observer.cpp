#include "devices/msc/file_source_observer.h"

#include "devices/msc/file_source.h"

FileSourceObserver::FileSourceObserver(FileSource* source)
    : source_(source),
      picture_placement_((source->Flags() & DirectorySource::kPictures) != 0 ? 1 : 0) {}

Result FileSourceObserver::OnUpdate(RecordSet*) { return rc::kOk; }

Result FileSourceObserver::OnDelete(RecordSet*) { return rc::kOk; }

Result FileSourceObserver::WriteTrackTags(RecordSet*) { return rc::kNotImplemented; }

Result FileSourceObserver::PlacePicture(RecordSet*) { return rc::kNotImplemented; }

Result FileSourceObserver::WritePlaylist(RecordSet*) { return rc::kNotImplemented; }
