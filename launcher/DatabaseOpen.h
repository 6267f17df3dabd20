// Opening the game database at start, without ever losing a library that
// could not be read.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "xml/Xml.h"

struct OpenedDatabase {
  std::unique_ptr<XmlDocument> document;
  // The file was there but could not be read as a library.
  bool damaged = false;
  // Where the unreadable file now lies; empty when it could not be moved, in
  // which case it is left untouched.
  std::string keptAs;
  // Whether the new library is saved in the damaged file's place. When it is
  // not, the document has no file name, so nothing is ever written there.
  bool savesInPlace = false;
};

// Opens path. A missing file gives an empty library that is saved to path.
// A file that is there but does not parse (or has no root) is moved aside to
// the first free name among "<path>.damaged", "<path>.damaged.1", ... and an
// empty library takes its place.
// underWay is called as XmlDocument calls it, for the first reading.
OpenedDatabase OpenGameDatabase(const std::string& path, const std::function<void()>& underWay = {});

// The same, on a thread of its own: the window is made while a large
// library is read. FinishOpeningGameDatabase waits for it and hands over
// what it opened; it returns an empty OpenedDatabase (no document) when no
// opening was started, and every opening started must be finished.
void StartOpeningGameDatabase(const std::string& path);
bool OpeningGameDatabase();
OpenedDatabase FinishOpeningGameDatabase();

// The text the user is shown once at start for a damaged database.
std::string DamagedDatabaseMessage(const std::string& path, const OpenedDatabase& opened);

// The first of "<path>.damaged", "<path>.damaged.1", ... that does not exist.
std::string FreeDamagedName(const std::string& path);
