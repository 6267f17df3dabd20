#include "launcher/EngineList.h"

#include "launcher/GameSchema.h"
#include "launcher/Storage.h"

std::string EngineListPath() { return ProfileFolder + "\\engines.xml"; }

EngineList ReadEngineList(const std::string& path) {
  EngineList list;
  XmlDocument document(path.c_str());
  XmlElement* root = document.GetRoot();
  XmlElement* engines = root ? root->FindChild("Engines") : nullptr;
  if (!engines) return list;
  if (XmlAttribute* chosen = engines->FindAttribute("default")) list.defaultName = chosen->GetValue();
  for (unsigned i = 0; i < engines->GetChildCount(); ++i) {
    XmlElement* element = engines->GetChildren()[i];
    Engine engine;
    if (XmlAttribute* name = element->FindAttribute("name")) engine.name = name->GetValue();
    if (XmlAttribute* program = element->FindAttribute("program")) engine.program = program->GetValue();
    if (XmlAttribute* kind = element->FindAttribute("kind")) ParseEngineKind(kind->GetValue(), engine.kind);
    if (engine.name.empty() || engine.program.empty() || FindEngine(list, engine.name)) continue;
    list.engines.push_back(engine);
  }
  return list;
}

bool SaveEngineList(const EngineList& list, const std::string& path) {
  XmlDocument document;
  document.ParseText("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<root><Engines/></root>");
  XmlElement* engines = document.GetRoot()->FindChild("Engines");
  SetAttributeText(engines, "default", list.defaultName.c_str());
  for (const Engine& engine : list.engines) {
    XmlElement* element = engines->AddChildFromText("<e/>");
    SetAttributeText(element, "name", engine.name.c_str());
    SetAttributeText(element, "program", engine.program.c_str());
    SetAttributeText(element, "kind", EngineKindName(engine.kind));
  }
  document.SetFileName(path.c_str());
  return document.Save();
}

const Engine* FindEngine(const EngineList& list, const std::string& name) {
  for (const Engine& engine : list.engines)
    if (EqualIgnoringCase(engine.name.c_str(), name.c_str())) return &engine;
  return nullptr;
}

std::string ChosenEngineName(XmlElement* entry) {
  XmlElement* main = entry ? entry->FindChild("Main") : nullptr;
  XmlAttribute* engine = main ? main->FindAttribute("Engine") : nullptr;
  return engine ? engine->GetValue() : std::string();
}

EngineChoice ChooseEngine(XmlElement* entry, const EngineList& list, PathKindFunction kind) {
  EngineChoice choice;
  const std::string name = ChosenEngineName(entry);
  if (name.empty()) return choice;
  choice.builtIn = false;
  choice.problem.role = LaunchProblem::Engine;
  const Engine* engine = FindEngine(list, name);
  if (!engine) {
    choice.problem.kind = LaunchProblem::EngineUnknown;
    choice.problem.path = name;
    return choice;
  }
  choice.engine = *engine;
  if (!kind || kind(engine->program) != PathKind::File) {
    choice.problem.kind = LaunchProblem::Missing;
    choice.problem.path = engine->program;
    choice.problem.detail = engine->name;
  }
  return choice;
}

std::string PutEngine(EngineList& list, int index, const Engine& engine) {
  if (engine.name.empty()) return "Give the DOSBox a name.";
  if (engine.program.empty()) return "Give the path of its program.";
  for (std::size_t i = 0; i < list.engines.size(); ++i)
    if (static_cast<int>(i) != index && EqualIgnoringCase(list.engines[i].name.c_str(), engine.name.c_str()))
      return "Another DOSBox is called \"" + engine.name + "\" already.";
  if (index < 0 || index >= static_cast<int>(list.engines.size())) {
    list.engines.push_back(engine);
    return std::string();
  }
  if (EqualIgnoringCase(list.defaultName.c_str(), list.engines[index].name.c_str())) list.defaultName = engine.name;
  list.engines[index] = engine;
  return std::string();
}

void RemoveEngine(EngineList& list, int index) {
  if (index < 0 || index >= static_cast<int>(list.engines.size())) return;
  if (EqualIgnoringCase(list.defaultName.c_str(), list.engines[index].name.c_str())) list.defaultName.clear();
  list.engines.erase(list.engines.begin() + index);
}

int RenameChosenEngine(XmlElement* games, const std::string& from, const std::string& to) {
  int changed = 0;
  for (unsigned i = 0; games && i < games->GetChildCount(); ++i) {
    XmlElement* main = games->GetChildren()[i]->FindChild("Main");
    XmlAttribute* engine = main ? main->FindAttribute("Engine") : nullptr;
    if (!engine || engine->GetValue().empty() || !EqualIgnoringCase(engine->GetValue().c_str(), from.c_str()) ||
        engine->GetValue() == to)
      continue;
    engine->SetValue(to.c_str());
    ++changed;
  }
  return changed;
}

std::string EngineLine(const EngineList& list, int index) {
  const Engine& engine = list.engines[index];
  const bool chosen = EqualIgnoringCase(list.defaultName.c_str(), engine.name.c_str());
  return engine.name + " (" + EngineKindName(engine.kind) + (chosen ? ", default)" : ")");
}
