#include "launcher/DatabaseOpen.h"

#include <future>
#include <thread>

#include "launcher/Storage.h"
#include "xml/FileNames.h"

namespace {

// The opening under way on its own thread, and what it opened.
std::thread Opening;
OpenedDatabase OpenedMeanwhile;

const char kEmptyLibrary[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root/>\r\n";

bool Unreadable(const XmlDocument& document) {
  return document.GetParseStatus() != 0 || document.GetRoot() == nullptr;
}

}  // namespace

std::string FreeDamagedName(const std::string& path) {
  std::string name = path + ".damaged";
  for (unsigned n = 1; FileExists(name); ++n) name = path + ".damaged." + std::to_string(n);
  return name;
}

OpenedDatabase OpenGameDatabase(const std::string& path, const std::function<void()>& underWay) {
  OpenedDatabase opened;
  opened.document = std::make_unique<XmlDocument>(path.c_str(), underWay);
  if (Unreadable(*opened.document) && FileExists(path)) {
    opened.damaged = true;
    // The loaded text is dropped before the file moves, so no part of it can
    // reach a later save.
    opened.document.reset();
    const std::string keptAs = FreeDamagedName(path);
    if (RenameFileUtf8(path, keptAs)) {
      opened.keptAs = keptAs;
      opened.document = std::make_unique<XmlDocument>(path.c_str());
    }
    if (!opened.document || Unreadable(*opened.document)) {
      // The file could not be moved, or something else appeared in its
      // place: an empty library without a file name, never saved over it.
      opened.document = std::make_unique<XmlDocument>();
      opened.document->ParseText(kEmptyLibrary);
    }
  }
  opened.savesInPlace = opened.document->GetFileName() != nullptr;
  return opened;
}

void StartOpeningGameDatabase(const std::string& path) {
  FinishOpeningGameDatabase();
  // Returns once the reading runs, with every thread it takes: a new thread
  // starts only when the system's loader is free, and the window libraries,
  // loaded right after this, would keep it busy for milliseconds (tens
  // under Wine) first.
  std::promise<void> running;
  std::future<void> started = running.get_future();
  Opening = std::thread([path, running = std::move(running)]() mutable {
    OpenedMeanwhile = OpenGameDatabase(path, [&running] { running.set_value(); });
  });
  started.wait();
}

bool OpeningGameDatabase() { return Opening.joinable(); }

OpenedDatabase FinishOpeningGameDatabase() {
  if (!Opening.joinable()) return OpenedDatabase();
  Opening.join();
  OpenedDatabase opened = std::move(OpenedMeanwhile);
  OpenedMeanwhile = OpenedDatabase();
  return opened;
}

std::string DamagedDatabaseMessage(const std::string& path, const OpenedDatabase& opened) {
  std::string text = "The game database could not be read:\r\n" + path + "\r\n\r\n";
  if (opened.keptAs.empty())
    text += "It could not be moved aside, so it is left exactly as it is.";
  else
    text += "Nothing in it was changed. It was kept as:\r\n" + opened.keptAs;
  text += "\r\n\r\nVantle starts with an empty game list";
  text += opened.savesInPlace ? ", which is saved as a new game database."
                              : ". Nothing you change now will be saved.";
  return text;
}
