// Formatting as edits of whole lines: of the whole text, or of a range of
// lines widened to the blocks whose indentation changes.
#include <algorithm>
#include <optional>

#include "format/format.h"
#include "format/layout.h"

namespace skern::format {

namespace {

using detail::Layout;
using detail::Line;
using detail::LineKind;

// The edits that give lines first..last (0-based, inclusive) the layout's
// text, one for each run of lines that change.
void collect_edits(const Layout& layout, std::size_t first, std::size_t last, std::vector<LineEdit>& edits) {
  std::optional<std::size_t> run;
  for (std::size_t i = first; i <= last + 1; ++i) {
    const bool changed = i <= last && layout.output_of(i) != layout.lines[i].whole;
    if (changed && !run) {
      run = i;
    } else if (!changed && run) {
      const std::size_t start = *run == 0 ? 0 : layout.ends[*run - 1];
      edits.push_back(LineEdit{*run + 1, i - *run, layout.text.substr(start, layout.ends[i - 1] - start)});
      run.reset();
    }
  }
}

// One block of the source: its code lines from first to last (physical line
// numbers, 0-based; the lines of blocks inside it included) and its header.
struct Block {
  std::size_t first = 0;
  std::size_t last = 0;
  std::optional<std::size_t> header;
};

// The blocks of the source and the block of each code line.
struct Blocks {
  std::vector<Block> blocks;
  std::vector<std::size_t> block_of;  // by physical line; code lines only
};

Blocks find_blocks(const std::vector<Line>& lines) {
  Blocks found;
  found.block_of.assign(lines.size(), 0);
  std::vector<std::size_t> open;  // innermost last; their depths are their places here
  std::optional<std::size_t> previous;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::Code) {
      continue;
    }
    const std::size_t depth = lines[i].depth;
    while (open.size() > depth + 1) {
      found.blocks[open.back()].last = *previous;
      open.pop_back();
    }
    if (open.size() < depth + 1) {
      open.push_back(found.blocks.size());
      found.blocks.push_back(Block{i, i, previous});
    }
    found.block_of[i] = open.back();
    previous = i;
  }
  for (const std::size_t block : open) {
    found.blocks[block].last = *previous;
  }
  return found;
}

// Widens lines lo..hi until their canonical indentation fits with the
// indentation that the lines outside keep: a line whose indentation changes
// takes its whole block along, and a header outside that is not shallower
// than the block's new indentation joins too (and then its own block).
void widen(const std::vector<Line>& lines, std::size_t& lo, std::size_t& hi) {
  const Blocks found = find_blocks(lines);
  bool grew = true;
  while (grew) {
    grew = false;
    for (std::size_t i = lo; i <= hi; ++i) {
      const Line& line = lines[i];
      const std::uint64_t indentation = std::uint64_t{line.depth} * detail::INDENT_WIDTH;
      if (line.kind != LineKind::Code || line.indentation == indentation) {
        continue;
      }
      const Block& block = found.blocks[found.block_of[i]];
      if (block.first < lo || block.last > hi) {
        lo = std::min(lo, block.first);
        hi = std::max(hi, block.last);
        grew = true;
      }
      if (block.header && *block.header < lo && lines[*block.header].indentation >= indentation) {
        lo = *block.header;
        grew = true;
      }
    }
  }
}

}  // namespace

Formatted<std::vector<LineEdit>> format_edits(std::string_view source) {
  Result<Layout> layout = detail::lay_out(source);
  SKERN_TRY(layout);
  if (!detail::same_meaning(layout->text, layout->tree)) {
    return Formatted<std::vector<LineEdit>>::refusal();
  }
  std::vector<LineEdit> edits;
  if (!layout->lines.empty()) {
    collect_edits(*layout, 0, layout->lines.size() - 1, edits);
  }
  return edits;
}

Formatted<std::vector<LineEdit>> format_range(std::string_view source, std::uint64_t first_line,
                                              std::uint64_t last_line) {
  Result<Layout> layout = detail::lay_out(source);
  SKERN_TRY(layout);
  if (!detail::same_meaning(layout->text, layout->tree)) {
    return Formatted<std::vector<LineEdit>>::refusal();
  }
  const std::vector<Line>& lines = layout->lines;
  std::vector<LineEdit> edits;
  first_line = std::max<std::uint64_t>(first_line, 1);
  last_line = std::min<std::uint64_t>(last_line, lines.size());
  if (first_line > last_line) {
    return edits;
  }
  auto lo = static_cast<std::size_t>(first_line - 1);
  auto hi = static_cast<std::size_t>(last_line - 1);
  widen(lines, lo, hi);
  // The source with those lines changed is checked as the whole text was.
  std::string changed;
  changed.reserve(layout->text.size() + source.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    changed.append(i >= lo && i <= hi ? layout->output_of(i) : lines[i].whole);
  }
  if (!detail::same_meaning(changed, layout->tree)) {
    return Formatted<std::vector<LineEdit>>::refusal();
  }
  collect_edits(*layout, lo, hi, edits);
  return edits;
}

}  // namespace skern::format
