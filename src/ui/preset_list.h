#pragma once
// The dialog's preset list as a model: "Default Settings", "Initial
// Settings", then the named presets in the order the rules give, each with
// its own Parameter Set; the preset chosen last; and whether the current
// settings still are that preset. The combo box shows what this holds.
#include <string>
#include <vector>

#include "params/parameter_set.h"

constexpr int PRESET_DEFAULT = 0;
constexpr int PRESET_INITIAL = 1;
constexpr int PRESET_NONE = -1;

class PresetList {
 public:
  // The two fixed items: the factory set and the set the dialog opened with.
  explicit PresetList(const ParameterSet& initial);

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Name(int index) const { return items_[static_cast<size_t>(index)].name; }
  const ParameterSet& Set(int index) const { return items_[static_cast<size_t>(index)].set; }
  // The preset shown as chosen, or PRESET_NONE.
  int Selected() const { return selected_; }

  // Appends a preset as the folder listing gives it (the list's first fill).
  void Append(const std::string& name, const ParameterSet& set);
  // Adds or replaces a named preset and selects it: an item with exactly
  // this name takes the new set where it stands; a new name goes before the
  // first named preset that sorts after it ignoring case. Its index.
  int Add(const std::string& name, const ParameterSet& set);
  // Removes a named preset (indices 0 and 1 stay); false for those.
  bool Remove(int index);
  // The user chose an item.
  void Choose(int index);
  // The current settings changed: the chosen preset stays shown while they
  // equal it (after the version stamp) and returns when they do again.
  void SettingsChanged(const ParameterSet& current);
  // Whether "Delete Settings" applies: a named preset is shown.
  bool CanDelete() const { return shown_ && selected_ >= 2; }
  void ShowNone() { shown_ = false; }
  bool Shown() const { return shown_; }

 private:
  struct Item {
    std::string name;
    ParameterSet set;
  };
  std::vector<Item> items_;
  int selected_ = PRESET_NONE;  // the preset chosen last
  bool shown_ = false;          // whether it is still shown as chosen
};

// A preset's name: its file name without the text from the last "." on.
std::string PresetNameOfFile(const std::string& fileName);
// Whether a path lies in the parameters folder (a case-insensitive prefix).
bool IsInParametersFolder(const std::string& path, const std::string& folder);
