#include "ui/preset_list.h"

#include <algorithm>
#include <cctype>

namespace {

// Ordering ignoring case, as the list inserts names.
int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

PresetList::PresetList(const ParameterSet& initial) {
  items_.push_back(Item{"Default Settings", FACTORY_PARAMETER_SET});
  items_.push_back(Item{"Initial Settings", initial});
}

void PresetList::Append(const std::string& name, const ParameterSet& set) { items_.push_back(Item{name, set}); }

int PresetList::Add(const std::string& name, const ParameterSet& set) {
  int index = PRESET_NONE;
  for (int i = 2; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)].name == name) index = i;
  if (index != PRESET_NONE) {
    items_[static_cast<size_t>(index)].set = set;
  } else {
    index = Count();
    for (int i = 2; i < Count(); ++i)
      if (CompareIgnoringCase(items_[static_cast<size_t>(i)].name, name) > 0) {
        index = i;
        break;
      }
    items_.insert(items_.begin() + index, Item{name, set});
    if (selected_ >= index) ++selected_;
  }
  Choose(index);
  return index;
}

bool PresetList::Remove(int index) {
  if (index < 2 || index >= Count()) return false;
  items_.erase(items_.begin() + index);
  if (selected_ == index) {
    selected_ = PRESET_NONE;
    shown_ = false;
  } else if (selected_ > index) {
    --selected_;
  }
  return true;
}

void PresetList::Choose(int index) {
  if (index < 0 || index >= Count()) return;
  selected_ = index;
  shown_ = true;
}

void PresetList::SettingsChanged(const ParameterSet& current) {
  shown_ = selected_ != PRESET_NONE && ParameterSetsEqual(&items_[static_cast<size_t>(selected_)].set, &current);
}

std::string PresetNameOfFile(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  const size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

bool IsInParametersFolder(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() <= folder.size()) return false;
  if (CompareIgnoringCase(path.substr(0, folder.size()), folder) != 0) return false;
  const char next = path[folder.size()];
  return next == '/' || next == '\\' || folder.back() == '/' || folder.back() == '\\';
}
