#include "launcher/ForeignEngine.h"

#include "launcher/ForeignFiles.h"

std::string ForeignEngineName(const std::string& named, const EngineList& list, std::vector<std::string>& notCarried) {
  if (named.empty()) return std::string();
  // A folder or program named by path is known by its folder's name.
  std::string folder = named;
  if (folder.size() > 4 && SameTextIgnoringCase(folder.substr(folder.size() - 4), ".exe")) folder = FolderPart(folder);
  folder = NamePart(folder);
  for (const Engine& engine : list.engines)
    if (SameTextIgnoringCase(engine.name, named) || SameTextIgnoringCase(engine.name, folder)) return engine.name;

  const EngineKind kind = EngineKindFromDescription(named);
  if (kind == EngineKind::Classic) return std::string();
  const Engine* chosen = FindEngine(list, list.defaultName);
  if (!chosen || chosen->kind != kind) {
    chosen = nullptr;
    for (const Engine& engine : list.engines)
      if (engine.kind == kind) {
        chosen = &engine;
        break;
      }
  }
  if (chosen) return chosen->name;
  notCarried.push_back(std::string("engine ") + named + ": no " + EngineKindName(kind) +
                       " engine is listed, the DOSBox beside the program runs it");
  return std::string();
}
