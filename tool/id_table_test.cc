#include "tool/id_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lineio/string_printf.h"
#include "tool/format_id.h"

namespace {

struct Counting {
  void Lookup() { ++lookups; }
  void Probe() { ++probes; }
  size_t lookups = 0, probes = 0;
};

// Identifiers chosen so that a table with a fixed hash (FNV-1a, mixed, as
// an earlier listing had) puts them all in one run of slots: a lookup then
// walks the whole run. With a keyed hash they are like any others.
TEST(IdTableTest, CraftedIdentifiersDoNotMakeLookupsWalk) {
  auto fixed_hash = [](const std::string& id) {
    uint64_t hash = 14695981039346656037ull;
    for (char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    return hash ^ (hash >> 33);
  };
  constexpr size_t kIds = 100000, kSlots = 1 << 18;  // that table's size for them
  std::vector<std::string> ids;
  std::mt19937_64 random(20261208);
  while (ids.size() < kIds) {
    const std::string id = MakeFormatId(4, 29, 70, 0, 0).substr(0, 5) +
                           StringPrintf("%010llX", static_cast<unsigned long long>(random() >> 24));
    if ((fixed_hash(id) & (kSlots - 1)) < kIds * 38 / 100) ids.push_back(id);
  }
  BasicIdTable<Counting> table;
  table.Reserve(kIds);
  for (const std::string& id : ids) table.Set(id, 1);
  for (const std::string& id : ids) EXPECT_EQ(table.Flags(id), 1) << id;
  EXPECT_EQ(table.stats().lookups, 2 * kIds);
  EXPECT_LT(table.stats().probes, 10 * table.stats().lookups);
}

// A table no one has entered anything in answers, and has room.
TEST(IdTableTest, AFreshTableHoldsNothing) {
  IdTable table;
  EXPECT_EQ(table.Flags("KsL000000000001"), 0);
  EXPECT_EQ(table.Flags("KsL00000000000000000001"), 0);
  EXPECT_EQ(table.Set("KsL000000000001", 2), 0);
  EXPECT_EQ(table.Flags("KsL000000000001"), 2);
}

// Identifiers of every length keep their own flags: "KsL0..." and "KsL..."
// of one value differ, and ones too long for a word are kept as text.
TEST(IdTableTest, EveryLengthIsItsOwn) {
  IdTable table;
  const std::vector<std::string> ids = {"KsL000000000001", "KsL0000000000001", "KsL000000000001A",
                                        "KsL0000000000000000001", "KsL00000000000000000001"};
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(table.Set(ids[i], uint8_t(1) << i), 0);
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(table.Flags(ids[i]), uint8_t(1) << i);
  EXPECT_EQ(table.Flags("KsL000000000002"), 0);
}

}  // namespace
