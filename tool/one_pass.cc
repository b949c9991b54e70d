#include "tool/one_pass.h"

#include <cstdio>
#include <vector>

#include "lineio/rewrite.h"
#include "tool/format_id.h"
#include "tool/lookup.h"
#include "tool/operations.h"

OnePass StageOnce(DataSet& data, std::string_view name, const NewEntry* entry,
                  std::string* old_id, Status* status) {
  std::string old;      // the old format's identifier, once its entry is met
  bool in_use = false;  // a line holds the new identifier
  // Seen first, and never applying: a line that holds the new identifier
  // marks it taken.
  const LineEdit taken{entry != nullptr ? entry->id : "", LineEdit::Action::kCopy, "",
                       [&](std::string_view line) {
                         if (FormatIdIn(line) == entry->id) in_use = true;
                         return false;
                       },
                       nullptr};
  // Lines of the old format, once it is known.
  const LineEdit old_lines{"", LineEdit::Action::kDrop, "",
                           [&](std::string_view line) { return FormatIdIn(line) == old; },
                           nullptr, &old};
  const LineEdit func_entry{std::string(name), LineEdit::Action::kDrop, "",
                            [&](std::string_view line) {
                              const std::string_view found = EntryIdNamed(line, name);
                              if (found.empty()) return false;
                              if (old.empty()) old = found;
                              return found == old;
                            },
                            nullptr};
  auto fail = [&](OnePass why) {
    data.Abandon();
    return why;
  };
  auto failed = [&](const Status& why) {
    *status = why;
    return fail(OnePass::kFailed);
  };
  // The edits of one file: the new identifier watched first, then the
  // removal, then what an add writes.
  auto edits = [&](std::vector<LineEdit> removal, std::vector<LineEdit> adding) {
    std::vector<LineEdit> all;
    if (entry != nullptr) all.push_back(taken);
    all.insert(all.end(), removal.begin(), removal.end());
    if (entry != nullptr) all.insert(all.end(), adding.begin(), adding.end());
    return all;
  };

  std::vector<LineEdit> func_adding;
  if (entry != nullptr) {
    func_adding.push_back(
        {kCustomTapeHeader, LineEdit::Action::kInsertAfter, entry->func_line, nullptr, nullptr});
  }
  if (Status staged = data.RewriteInPlace(DataFile::kFuncList,
                                          edits({func_entry, old_lines}, func_adding), "");
      !staged.ok()) {
    return failed(staged);
  }
  if (in_use) return fail(OnePass::kIdInUse);
  if (!old.empty()) {
    // A line of the old format before its entry was copied before it was
    // known: then the general way. The copy is looked at, not the file.
    FILE* copy;
    if (Status opened = data.OpenStagedCopy(DataFile::kFuncList, &copy); !opened.ok()) {
      return failed(opened);
    }
    const Status early = FindIdLineIn(copy, old);
    fclose(copy);
    if (early.ok()) return fail(OnePass::kStartOver);
    if (!early.not_found()) return failed(early.WithPath(data.PathOf(DataFile::kFuncList)));
  }

  std::string paper_old;  // the paper info file's first entry of the name
  const LineEdit paper_named{std::string(name), LineEdit::Action::kCopy, "",
                             [&](std::string_view line) {
                               const std::string_view found = EntryIdNamed(line, name);
                               if (!found.empty() && paper_old.empty()) paper_old = found;
                               return false;
                             },
                             nullptr};
  std::vector<LineEdit> paper_removal = {paper_named};
  if (!old.empty()) paper_removal.push_back(old_lines);
  if (Status staged = data.RewriteInPlace(DataFile::kPaperInfo, edits(paper_removal, {}),
                                          entry != nullptr ? entry->paper_line : "");
      !staged.ok()) {
    return failed(staged);
  }
  if (in_use) return fail(OnePass::kIdInUse);
  if (paper_old != old) return fail(OnePass::kStartOver);
  if (old.empty() && entry == nullptr) return fail(OnePass::kNotFound);

  std::vector<LineEdit> area_removal;
  if (!old.empty()) area_removal.push_back(old_lines);
  if (Status staged = data.RewriteInPlace(DataFile::kImagingArea, edits(area_removal, {}),
                                          entry != nullptr ? entry->area_line : "");
      !staged.ok()) {
    return failed(staged);
  }
  if (in_use) return fail(OnePass::kIdInUse);
  if (!old.empty()) {
    const std::vector<std::string> ids = {old};
    const LineEdit setting =
        RemovalEdit(EntryLines::kSettings, ids, entry != nullptr ? entry->id : "");
    if (Status staged = data.RewriteInPlace(DataFile::kRc, {setting}, ""); !staged.ok()) {
      return failed(staged);
    }
  }
  *old_id = old;
  return OnePass::kStaged;
}
