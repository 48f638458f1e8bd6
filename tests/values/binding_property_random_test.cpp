// Long random sequences of building, copying, moving, clearing and setting
// over several trees, checked after every step against a plain model made of
// std::map, std::vector and std::string: contents, key order, the arena each
// node uses, and the number of interned texts (which must drop as their last
// user goes). At the end every page and heap block must be back.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "plugin/memory.h"
#include "values/binding_property.h"
#include "values/property_arena.h"

namespace Zarn {
namespace {

struct Model {
  PropertyKind kind = PropertyKind::Empty;
  bool boolValue = false;
  int64_t signedValue = 0;
  uint64_t unsignedValue = 0;
  double floatValue = 0;
  std::string text;
  std::vector<uint8_t> blob;
  std::vector<Model> elements;
  std::map<std::string, Model> members;  // std::string orders bytes as unsigned
};

struct Step {
  bool isIndex;
  size_t index;
  std::string key;
};
using Path = std::vector<Step>;

const char* const kTexts[] = {
    "",  "a", "b", "B", "key", "name", "\xC3\xA9t\xC3\xA9", "\x7F", "ab",
    "a text longer than the largest slab block, so that its entry comes from a spill block of the arena",
};

size_t CountNodes(const Model& model) {
  size_t count = 1;
  for (const Model& element : model.elements) count += CountNodes(element);
  for (const auto& [key, member] : model.members) count += CountNodes(member);
  return count;
}

void CollectTexts(const Model& model, std::set<std::string>& texts) {
  if (model.kind == PropertyKind::String && !model.text.empty()) texts.insert(model.text);
  for (const Model& element : model.elements) CollectTexts(element, texts);
  for (const auto& [key, member] : model.members) {
    if (!key.empty()) texts.insert(key);
    CollectTexts(member, texts);
  }
}

// Compares node with model; returns the first difference, or "".
std::string Compare(const BindingProperty& node, const Model& model, const PropertyArena* arena,
                    const std::string& where) {
  if (node.Kind() != model.kind) {
    return where + ": kind " + PropertyKindName(node.Kind()) + " instead of " + PropertyKindName(model.kind);
  }
  if (where != "root" && (node.OwnsArena() || node.Arena() != arena)) return where + ": wrong arena";
  switch (model.kind) {
    case PropertyKind::Empty: return "";
    case PropertyKind::Bool: return node.GetBool() == model.boolValue ? "" : where + ": bool";
    case PropertyKind::Signed: return node.GetSigned() == model.signedValue ? "" : where + ": signed";
    case PropertyKind::Unsigned: return node.GetUnsigned() == model.unsignedValue ? "" : where + ": unsigned";
    case PropertyKind::Float: return node.GetFloat() == model.floatValue ? "" : where + ": float";
    case PropertyKind::String: return node.GetString() == model.text ? "" : where + ": text";
    case PropertyKind::Blob: return node.GetBlob() == model.blob ? "" : where + ": blob";
    case PropertyKind::Enum: return "";
    case PropertyKind::Collection: {
      if (node.Size() != model.elements.size()) return where + ": element count";
      for (size_t i = 0; i < model.elements.size(); ++i) {
        std::string difference = Compare(node.ElementAt(i), model.elements[i], arena, where + "[" + std::to_string(i) + "]");
        if (!difference.empty()) return difference;
      }
      return "";
    }
    case PropertyKind::Structure: {
      if (node.Size() != model.members.size()) return where + ": member count";
      auto expected = model.members.begin();
      for (const auto& member : node.Members()) {
        if (member.Key() != expected->first) return where + ": key order at " + expected->first;
        std::string difference = Compare(member.Value(), expected->second, arena, where + "." + expected->first);
        if (!difference.empty()) return difference;
        if (&node.FindMember(expected->first) != &member.Value()) return where + ": lookup of " + expected->first;
        ++expected;
      }
      return "";
    }
  }
  return where + ": unknown kind";
}

class RandomTrees {
 public:
  static constexpr int kTrees = 4;
  static constexpr size_t kMaxNodes = 300;

  explicit RandomTrees(uint32_t seed) : random_(seed) {}

  void RunStep() {
    const int tree = Pick(kTrees);
    const Path path = RandomPath(tree);
    BindingProperty& node = Node(tree, path);
    Model& model = ModelAt(tree, path);
    switch (Pick(14)) {
      case 0: case 1: SetScalar(node, model); break;
      case 2: {
        const char* text = kTexts[Pick(std::size(kTexts))];
        node.SetString(text);
        model = Model{};
        model.kind = PropertyKind::String;
        model.text = text;
        break;
      }
      case 3: {
        std::vector<uint8_t> bytes(Pick(5));
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(Pick(256));
        model = Model{};
        model.kind = PropertyKind::Blob;
        model.blob = bytes;
        if (Pick(2) == 0) {
          node.SetBlob(std::move(bytes));
        } else {
          node.SetBlob(bytes.data(), bytes.size());
        }
        break;
      }
      case 4: case 5: {
        BindingProperty& element = node.Append();
        MakeCollection(model);
        model.elements.emplace_back();
        SetScalarOrText(element, model.elements.back());
        break;
      }
      case 6: {
        const size_t index = Pick(6);
        BindingProperty& element = node.At(index);
        MakeCollection(model);
        if (model.elements.size() <= index) model.elements.resize(index + 1);
        if (Pick(2) == 0) SetScalarOrText(element, model.elements[index]);
        break;
      }
      case 7: case 8: {
        const std::string key = kTexts[Pick(std::size(kTexts))];
        BindingProperty& member = node.Member(key);
        if (model.kind != PropertyKind::Structure) {
          model = Model{};
          model.kind = PropertyKind::Structure;
        }
        SetScalarOrText(member, model.members[key]);
        break;
      }
      case 9:
        if (Pick(2) == 0) {
          node.MakeCollection();
          MakeCollection(model);
        } else {
          node.MakeStructure();
          if (model.kind != PropertyKind::Structure) {
            model = Model{};
            model.kind = PropertyKind::Structure;
          }
        }
        break;
      case 10:
        node.Clear();
        model = Model{};
        break;
      case 11: {
        const int sourceTree = Pick(kTrees);
        const Path sourcePath = RandomPath(sourceTree);
        const Model value = ModelAt(sourceTree, sourcePath);
        node.CopyFrom(Node(sourceTree, sourcePath));
        model = value;
        break;
      }
      case 12: {
        const int sourceTree = Pick(kTrees);
        const Path sourcePath = RandomPath(sourceTree);
        Take(tree, path, sourceTree, sourcePath);
        break;
      }
      case 13: {
        const int other = Pick(kTrees);
        if (Pick(2) == 0) {
          roots_[tree] = std::move(roots_[other]);
          if (other != tree) {
            models_[tree] = models_[other];
            models_[other] = Model{};
          }
        } else {
          roots_[tree] = roots_[other];
          models_[tree] = models_[other];
        }
        break;
      }
    }
    for (int t = 0; t < kTrees; ++t) {
      if (CountNodes(models_[t]) > kMaxNodes) {
        roots_[t].Clear();
        models_[t] = Model{};
      }
    }
  }

  std::string Check() const {
    for (int t = 0; t < kTrees; ++t) {
      const std::string where = "tree " + std::to_string(t);
      std::string difference = Compare(roots_[t], models_[t], roots_[t].Arena(), "root");
      if (!difference.empty()) return where + " " + difference;
      if (!roots_[t].OwnsArena()) return where + ": a root must own its arena";
      std::set<std::string> texts;
      CollectTexts(models_[t], texts);
      const uint32_t interned = roots_[t].Arena() == nullptr ? 0 : roots_[t].Arena()->TextCount();
      if (interned != texts.size()) {
        return where + ": " + std::to_string(interned) + " interned texts, " + std::to_string(texts.size()) + " in use";
      }
    }
    return "";
  }

 private:
  size_t Pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random_); }

  Path RandomPath(int tree) {
    Path path;
    const Model* model = &models_[tree];
    while (Pick(3) != 0) {
      if (model->kind == PropertyKind::Collection && !model->elements.empty()) {
        const size_t index = Pick(model->elements.size());
        path.push_back({true, index, {}});
        model = &model->elements[index];
      } else if (model->kind == PropertyKind::Structure && !model->members.empty()) {
        auto member = model->members.begin();
        std::advance(member, Pick(model->members.size()));
        path.push_back({false, 0, member->first});
        model = &member->second;
      } else {
        break;
      }
    }
    return path;
  }

  BindingProperty& Node(int tree, const Path& path) {
    BindingProperty* node = &roots_[tree];
    for (const Step& step : path) node = step.isIndex ? &node->At(step.index) : &node->Member(step.key);
    return *node;
  }

  Model& ModelAt(int tree, const Path& path) {
    Model* model = &models_[tree];
    for (const Step& step : path) model = step.isIndex ? &model->elements[step.index] : &model->members[step.key];
    return *model;
  }

  static bool IsPrefix(const Path& prefix, const Path& path) {
    if (prefix.size() > path.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      if (prefix[i].isIndex != path[i].isIndex || prefix[i].index != path[i].index || prefix[i].key != path[i].key) {
        return false;
      }
    }
    return true;
  }

  void Take(int tree, const Path& path, int sourceTree, const Path& sourcePath) {
    BindingProperty& target = Node(tree, path);
    BindingProperty& source = Node(sourceTree, sourcePath);
    const bool sameTree = tree == sourceTree;
    target.TakeFrom(source);
    if (sameTree && sourcePath.size() == path.size() && IsPrefix(sourcePath, path)) return;  // itself
    if (sameTree && IsPrefix(sourcePath, path)) {
      ModelAt(sourceTree, sourcePath) = Model{};  // the target went with its ancestor
      return;
    }
    const Model value = ModelAt(sourceTree, sourcePath);
    ModelAt(sourceTree, sourcePath) = Model{};
    ModelAt(tree, path) = value;
  }

  static void MakeCollection(Model& model) {
    if (model.kind == PropertyKind::Collection) return;
    model = Model{};
    model.kind = PropertyKind::Collection;
  }

  void SetScalar(BindingProperty& node, Model& model) {
    model = Model{};
    switch (Pick(4)) {
      case 0:
        model.kind = PropertyKind::Bool;
        model.boolValue = Pick(2) == 1;
        node.SetBool(model.boolValue);
        break;
      case 1:
        model.kind = PropertyKind::Signed;
        model.signedValue = static_cast<int64_t>(random_()) - 0x80000000ll;
        node.SetSigned(model.signedValue);
        break;
      case 2:
        model.kind = PropertyKind::Unsigned;
        model.unsignedValue = (uint64_t{random_()} << 32) | random_();
        node.SetUnsigned(model.unsignedValue);
        break;
      default:
        model.kind = PropertyKind::Float;
        model.floatValue = static_cast<double>(random_()) / 7.0;
        node.SetFloat(model.floatValue);
        break;
    }
  }

  void SetScalarOrText(BindingProperty& node, Model& model) {
    if (Pick(2) == 0) {
      SetScalar(node, model);
      return;
    }
    const char* text = kTexts[Pick(std::size(kTexts))];
    node.SetString(text);
    model = Model{};
    model.kind = PropertyKind::String;
    model.text = text;
  }

  std::mt19937 random_;
  BindingProperty roots_[kTrees];
  Model models_[kTrees];
};

TEST(BindingPropertyRandom, AgreesWithPlainModel) {
  Memory::Free(Memory::Allocate(1));
  SlabPageSource::Instance();
  const uint32_t blocksBefore = SlabPageSource::Instance().LiveBlockCount();
  const Memory::Counters heapBefore = Memory::ReadCounters();
  constexpr uint32_t kSeeds[] = {1, 2, 3};
  constexpr int kSteps = 1500;
  for (const uint32_t seed : kSeeds) {
    auto trees = std::make_unique<RandomTrees>(seed);
    for (int step = 0; step < kSteps; ++step) {
      trees->RunStep();
      const std::string difference = trees->Check();
      ASSERT_EQ(difference, "") << "seed " << seed << ", step " << step;
    }
  }
  EXPECT_EQ(SlabPageSource::Instance().LiveBlockCount(), blocksBefore);
  const Memory::Counters heapAfter = Memory::ReadCounters();
  EXPECT_EQ(heapAfter.bytesAllocated - heapAfter.bytesFreed, heapBefore.bytesAllocated - heapBefore.bytesFreed);
}

}  // namespace
}  // namespace Zarn
