// Unified diffs from the formatter's line edits: the edits already say which
// lines change, so no general difference search is needed, and a diff of a
// large file takes one pass.
#include "fmt/diff.h"

#include <algorithm>
#include <cstdint>

namespace skern::fmt {

namespace {

// The lines of a text, each with its line end as the text has it.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// One change: old lines [old_first, old_first + old_count) (0-based) become
// `added`.
struct Change {
  std::size_t old_first = 0;
  std::size_t old_count = 0;
  std::vector<std::string_view> added;
};

// An edit as a change, without the lines at its ends that it keeps as they
// are (a blank line put above an unchanged line, say).
Change change_of(const format::LineEdit& edit, const std::vector<std::string_view>& old_lines) {
  Change change{static_cast<std::size_t>(edit.first_line - 1), static_cast<std::size_t>(edit.line_count),
                lines_of(edit.text)};
  std::size_t kept_before = 0;
  while (kept_before < change.old_count && kept_before < change.added.size() &&
         old_lines[change.old_first + kept_before] == change.added[kept_before]) {
    ++kept_before;
  }
  std::size_t kept_after = 0;
  while (kept_after < change.old_count - kept_before && kept_after < change.added.size() - kept_before &&
         old_lines[change.old_first + change.old_count - 1 - kept_after] ==
             change.added[change.added.size() - 1 - kept_after]) {
    ++kept_after;
  }
  change.old_first += kept_before;
  change.old_count -= kept_before + kept_after;
  change.added.erase(change.added.end() - static_cast<std::ptrdiff_t>(kept_after), change.added.end());
  change.added.erase(change.added.begin(), change.added.begin() + static_cast<std::ptrdiff_t>(kept_before));
  return change;
}

// "start,count" of a hunk header: a count of 1 is left out, and an empty
// range names the line before it.
std::string range_text(std::size_t first, std::size_t count) {
  const std::size_t shown = count == 0 ? first : first + 1;
  return count == 1 ? std::to_string(shown) : std::to_string(shown) + "," + std::to_string(count);
}

void append_line(std::string& out, char mark, std::string_view line) {
  out.push_back(mark);
  out.append(line);
  if (line.empty() || line.back() != '\n') {
    out.append("\n\\ No newline at end of file\n");
  }
}

}  // namespace

std::string unified_diff(std::string_view name, std::string_view source, const std::vector<format::LineEdit>& edits) {
  const std::vector<std::string_view> old_lines = lines_of(source);
  std::vector<Change> changes;
  for (const format::LineEdit& edit : edits) {
    Change change = change_of(edit, old_lines);
    if (change.old_count > 0 || !change.added.empty()) {
      changes.push_back(std::move(change));
    }
  }
  std::string out;
  if (changes.empty()) {
    return out;
  }
  out.append("--- ").append(name).append("\n+++ ").append(name).append("\n");
  // Lines the new text has more than the old before the change at hand.
  std::int64_t shift = 0;
  std::size_t next = 0;
  while (next < changes.size()) {
    // A hunk: changes whose context would touch or overlap go together.
    std::size_t last = next;
    while (last + 1 < changes.size() &&
           changes[last + 1].old_first <= changes[last].old_first + changes[last].old_count + 2 * DIFF_CONTEXT) {
      ++last;
    }
    const std::size_t old_start = changes[next].old_first - std::min(changes[next].old_first, DIFF_CONTEXT);
    const std::size_t old_end =
        std::min(old_lines.size(), changes[last].old_first + changes[last].old_count + DIFF_CONTEXT);
    std::string body;
    std::size_t new_count = 0;
    std::size_t at = old_start;
    std::int64_t hunk_shift = shift;
    for (std::size_t i = next; i <= last; ++i) {
      const Change& change = changes[i];
      for (; at < change.old_first; ++at, ++new_count) {
        append_line(body, ' ', old_lines[at]);
      }
      for (; at < change.old_first + change.old_count; ++at) {
        append_line(body, '-', old_lines[at]);
      }
      for (const std::string_view line : change.added) {
        append_line(body, '+', line);
        ++new_count;
      }
      shift += static_cast<std::int64_t>(change.added.size()) - static_cast<std::int64_t>(change.old_count);
    }
    for (; at < old_end; ++at, ++new_count) {
      append_line(body, ' ', old_lines[at]);
    }
    const auto new_start = static_cast<std::size_t>(static_cast<std::int64_t>(old_start) + hunk_shift);
    out.append("@@ -")
        .append(range_text(old_start, old_end - old_start))
        .append(" +")
        .append(range_text(new_start, new_count))
        .append(" @@\n")
        .append(body);
    next = last + 1;
  }
  return out;
}

}  // namespace skern::fmt
