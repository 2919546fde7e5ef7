// Index keys of the player database's text columns: each value is folded for collation (case,
// accents and ignored characters away) and emitted once. Artists sort without a leading
// article ("The Beatles" under "Beatles").
#pragma once

#include <string>

#include "db/simple_db.h"

// The collation-folded form of a UTF-8 text, as UTF-8; ignored characters are dropped.
std::string FoldedKeyText(const char* text);

// Skips one leading article ("the ", "l'", "die ", ...); an empty value is emitted as empty.
class ArtistKeyTransform : public KeyTransform {
 public:
  void Transform(const char* text, KeyEmitter* emitter) override;
};

// Paths key as raw bytes in lower case with forward slashes, so that "E:\Music\A.mp3" and
// "e:/music/a.MP3" meet.
class PathKeyTransform : public KeyTransform {
 public:
  void Transform(const char* text, KeyEmitter* emitter) override;
};

// An empty value emits nothing, so the record stands under no key of the column's indexes.
class PersonKeyTransform : public KeyTransform {
 public:
  void Transform(const char* text, KeyEmitter* emitter) override;
};
