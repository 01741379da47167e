// The source's lines and their canonical layout: indentation by block level,
// comments placed among the blocks, blank lines.
#include "format/layout.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "format/format.h"
#include "format/messages.h"
#include "parser/parser.h"

namespace skern::format::detail {

namespace {

// The physical lines, cut as the parser cuts them: at each line feed, a
// carriage return before it going with it, no line after a final line feed.
std::vector<Line> physical_lines(std::string_view source) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < source.size()) {
    const void* found = std::memchr(source.data() + start, '\n', source.size() - start);
    const std::size_t end =
        found == nullptr ? source.size() : static_cast<std::size_t>(static_cast<const char*>(found) - source.data());
    const std::size_t next = found == nullptr ? end : end + 1;
    Line line;
    line.whole = source.substr(start, next - start);
    std::string_view content = source.substr(start, end - start);
    if (found != nullptr && !content.empty() && content.back() == '\r') {
      content.remove_suffix(1);
    }
    // The comment is what cleaning cuts off; the rest is the parser's.
    line.comment = trim_end(content.substr(clean_line(content).size()));
    for (const char c : content) {
      if (c != ' ' && c != '\t') {
        break;
      }
      line.indentation += c == '\t' ? 4U : 1U;
    }
    line.kind = line.comment.empty() ? LineKind::Blank : LineKind::Comment;
    lines.push_back(line);
    start = next;
  }
  return lines;
}

bool is_top_level_header(std::string_view code) {
  return code.substr(0, 11) == "we declare " || code == "on the iron throne:";
}

bool opens_block(const Line& line) {
  if (line.depth == 0) {
    return true;  // `we declare` by `council says:`, the others by their block
  }
  switch (statement_shape(line.code).form) {
    case StatementForm::StrayElse:
    case StatementForm::If:
    case StatementForm::While:
    case StatementForm::RealmMarches:
      return true;
    default:
      return false;
  }
}

// Code lines' levels, from their indentation as the parser compared it.
void find_code_depths(std::vector<Line>& lines) {
  std::vector<std::uint64_t> levels{0};
  for (Line& line : lines) {
    if (line.kind != LineKind::Code) {
      continue;
    }
    if (line.indentation > levels.back()) {
      levels.push_back(line.indentation);
    } else {
      while (levels.size() > 1 && levels.back() > line.indentation) {
        levels.pop_back();
      }
    }
    line.depth = static_cast<std::uint32_t>(levels.size() - 1);
    line.opens = opens_block(line);
  }
}

// A comment line takes the level of a block open where it stands: between
// the level of the code line above and that of the code line below, the
// deepest whose indentation the comment's reaches (the shallowest if it
// reaches none). So a comment stays with the block it was written in, and
// one between blocks goes with the line below when it is indented so.
void find_comment_depths(std::vector<Line>& lines) {
  std::vector<std::uint64_t> levels{0};  // indentation of each open level
  std::optional<std::size_t> next_code;
  std::vector<std::optional<std::size_t>> following(lines.size());
  for (std::size_t i = lines.size(); i-- > 0;) {
    following[i] = next_code;
    if (lines[i].kind == LineKind::Code) {
      next_code = i;
    }
  }
  bool seen_code = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Line& line = lines[i];
    if (line.kind == LineKind::Code) {
      levels.resize(line.depth + 1, line.indentation);
      levels[line.depth] = line.indentation;
      seen_code = true;
      continue;
    }
    if (line.kind != LineKind::Comment || !seen_code) {
      continue;  // above the first code line, comments stand at the top level
    }
    const std::size_t above = levels.size() - 1;
    std::size_t low = 0;
    std::size_t high = above;
    std::uint64_t deeper_indentation = 0;
    if (following[i]) {
      const Line& below = lines[*following[i]];
      low = std::min<std::size_t>(above, below.depth);
      if (below.depth > above) {
        high = below.depth;
        deeper_indentation = below.indentation;
      }
    }
    const auto indentation_of = [&](std::size_t depth) {
      return depth < levels.size() ? levels[depth] : deeper_indentation;
    };
    std::size_t depth = high;
    while (depth > low && indentation_of(depth) > line.indentation) {
      --depth;
    }
    line.depth = static_cast<std::uint32_t>(depth);
  }
}

// Where a top-level declaration or the main block starts, counting the
// comments right above it (at the top level, no blank line between): the
// blank line that separates it goes above them.
std::vector<bool> find_item_starts(const std::vector<Line>& lines) {
  std::vector<bool> starts(lines.size(), false);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::Code || lines[i].depth != 0 || !is_top_level_header(lines[i].code)) {
      continue;
    }
    std::size_t first = i;
    while (first > 0 && lines[first - 1].kind == LineKind::Comment && lines[first - 1].depth == 0) {
      --first;
    }
    starts[first] = true;
  }
  return starts;
}

void write_lines(Layout& layout) {
  const std::vector<Line>& lines = layout.lines;
  const std::vector<bool> item_starts = find_item_starts(lines);
  std::string& out = layout.text;
  layout.ends.assign(lines.size(), 0);
  ExpressionParser expressions;
  bool written_any = false;
  bool after_opener = false;
  constexpr auto no_blank = static_cast<std::size_t>(-1);
  std::size_t blank_run = no_blank;  // the first blank line since the last line written
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == LineKind::Blank) {
      blank_run = std::min(blank_run, i);
      layout.ends[i] = out.size();
      continue;
    }
    const bool blank = written_any && (item_starts[i] || (blank_run != no_blank && !after_opener));
    if (blank) {
      out.push_back('\n');
      if (blank_run != no_blank) {  // the blank line that stays is the source's own
        for (std::size_t j = blank_run; j < i; ++j) {
          layout.ends[j] = out.size();
        }
      }
    }
    out.append(line.depth * INDENT_WIDTH, ' ');
    if (line.kind == LineKind::Code) {
      if (line.depth == 0) {
        top_level_text(line.code, out);
      } else {
        statement_text(line.code, expressions, out);
      }
      if (!line.comment.empty()) {
        out.push_back(' ');
      }
    }
    out.append(line.comment);
    out.push_back('\n');
    layout.ends[i] = out.size();
    written_any = true;
    after_opener = line.kind == LineKind::Code && line.opens;
    blank_run = no_blank;
  }
}

}  // namespace

Result<Layout> lay_out(std::string_view source) {
  try {
    Result<Program> tree = parse_program(source);
    SKERN_TRY(tree);
    Layout layout{std::move(*tree), physical_lines(source), {}, {}};
    for (const SourceLine& code : split_lines(source)) {
      Line& line = layout.lines[static_cast<std::size_t>(code.line_number - 1)];
      line.kind = LineKind::Code;
      line.code = code.text;
      line.indentation = code.indentation;
    }
    find_code_depths(layout.lines);
    find_comment_depths(layout.lines);
    layout.text.reserve(source.size() + source.size() / 4);
    write_lines(layout);
    return layout;
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(skern::msg::OUT_OF_MEMORY));
  }
}

bool same_meaning(std::string_view text, const Program& tree) {
  const Result<Program> again = parse_program(text);
  return again.ok() && same_program(*again, tree);
}

}  // namespace skern::format::detail

namespace skern::format {

Formatted<std::string> format_source(std::string_view source) {
  Result<detail::Layout> layout = detail::lay_out(source);
  SKERN_TRY(layout);
  if (!detail::same_meaning(layout->text, layout->tree)) {
    return Formatted<std::string>::refusal();
  }
  return std::move(layout->text);
}

}  // namespace skern::format
