// textDocument/formatting and rangeFormatting: the formatter's line edits as
// an editor's text edits.
#include "format/format.h"
#include "lsp/handlers.h"

namespace skern::lsp {

namespace {

// The edits of whole lines, each from the start of its first line to the
// start of the line after its last (or the end of the text).
Answer text_edits(const Context& context, const format::Formatted<std::vector<format::LineEdit>>& edits) {
  if (edits.refused()) {
    return Refusal{edits.report(), false};
  }
  if (!edits.ok()) {
    // The parse error is already on show as a diagnostic: nothing to change.
    return Json::array();
  }
  const Document& document = context.document;
  Json list = Json::array();
  for (const format::LineEdit& edit : *edits) {
    const auto first = static_cast<std::uint32_t>(edit.first_line - 1);
    const auto after = static_cast<std::uint32_t>(edit.first_line - 1 + edit.line_count);
    const Span span{document.index.offset(Position{first, 0}, context.encoding),
                    document.index.offset(Position{after, 0}, context.encoding)};
    list.push_back({{"range", range_json(document, span, context.encoding)}, {"newText", edit.text}});
  }
  return list;
}

}  // namespace

Answer formatting(const Context& context) { return text_edits(context, format::format_edits(context.document.text)); }

Answer range_formatting(const Context& context, Span range) {
  const Position start = context.document.index.position(range.start, context.encoding);
  Position end = context.document.index.position(range.end, context.encoding);
  // A range that ends at the very start of a line takes none of that line.
  if (end.character == 0 && end.line > start.line) {
    --end.line;
  }
  return text_edits(
      context, format::format_range(context.document.text, std::uint64_t{start.line} + 1, std::uint64_t{end.line} + 1));
}

}  // namespace skern::lsp
