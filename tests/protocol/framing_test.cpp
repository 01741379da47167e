// Content-Length framing: the messages and problems that a byte stream gives
// are the same however its bytes are split into reads, and after junk the
// next message is found.
#include "protocol/framing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace skern::protocol {
namespace {

// What the reader gives, one line each, as the tests compare it.
std::string message(std::string_view body) { return "message " + std::string(body); }
std::string problem(std::string_view description) { return "problem " + std::string(description); }

const std::string NOT_ENDED = problem("the header does not end within 8192 bytes");

// Feeds the stream in pieces that end at the given offsets (ascending), and
// takes everything the reader gives after each.
std::vector<std::string> read(std::string_view stream, const std::vector<std::size_t>& cuts) {
  MessageReader reader;
  std::vector<std::string> got;
  std::size_t from = 0;
  const auto feed = [&](std::size_t to) {
    reader.feed(stream.substr(from, to - from));
    from = to;
    while (std::optional<Framed> framed = reader.next()) {
      got.push_back(framed->problem ? problem(*framed->problem) : message(framed->body));
    }
  };
  for (const std::size_t cut : cuts) {
    feed(cut);
  }
  feed(stream.size());
  return got;
}

std::string describe(const std::vector<std::string>& framed) {
  std::string text;
  for (const std::string& one : framed) {
    text += "  [" + one.substr(0, 80) + (one.size() > 80 ? "...]\n" : "]\n");
  }
  return text;
}

// What the stream gives read whole, after checking that it gives the same
// read a byte at a time, split in two at every offset and, for short
// streams, in three at every pair of offsets.
std::vector<std::string> framed(std::string_view stream) {
  const std::vector<std::string> whole = read(stream, {});
  const auto same = [&](const std::vector<std::size_t>& cuts, const std::string& how) {
    const std::vector<std::string> got = read(stream, cuts);
    if (got != whole) {
      ADD_FAILURE() << "read " << how << ":\n" << describe(got) << "read whole:\n" << describe(whole);
      return false;
    }
    return true;
  };
  std::vector<std::size_t> bytes(stream.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = i;
  }
  if (!same(bytes, "a byte at a time")) {
    return whole;
  }
  for (std::size_t at = 0; at <= stream.size(); ++at) {
    if (!same({at}, "split at " + std::to_string(at))) {
      return whole;
    }
  }
  if (stream.size() <= 120) {
    for (std::size_t first = 0; first <= stream.size(); ++first) {
      for (std::size_t second = first; second <= stream.size(); ++second) {
        if (!same({first, second}, "split at " + std::to_string(first) + " and " + std::to_string(second))) {
          return whole;
        }
      }
    }
  }
  return whole;
}

using Framing = std::vector<std::string>;

TEST(Framing, MessagesOneAfterAnother) {
  EXPECT_EQ(framed(frame("{\"id\":1}") + frame("") + frame("[]")), (Framing{message("{\"id\":1}"), message(""), message("[]")}));
}

TEST(Framing, FrameWritesTheLengthInBytes) {
  EXPECT_EQ(frame("{\"é\":1}"), "Content-Length: 8\r\n\r\n{\"é\":1}");
  EXPECT_EQ(frame(""), "Content-Length: 0\r\n\r\n");
}

TEST(Framing, BodyIsTakenByItsLengthWhateverItHolds) {
  const std::string body = "{\"text\":\"Content-Length: 3\r\n\r\nabc\"}";
  EXPECT_EQ(framed(frame(body) + frame("{}")), (Framing{message(body), message("{}")}));
}

TEST(Framing, FieldNamesInAnyCaseAndOtherFieldsIgnored) {
  EXPECT_EQ(framed("content-LENGTH:2\r\n\r\n{}"), Framing{message("{}")});
  EXPECT_EQ(framed("Content-Length: \t2 \r\n\r\n{}"), Framing{message("{}")});
  // A valid block with a field of no concern, before and after the length.
  EXPECT_EQ(framed("Content-Type: application/vscode-jsonrpc; charset=utf-8\r\nContent-Length: 2\r\n"
                   "X-Unknown: yes\r\n\r\n{}" +
                   frame("[]")),
            (Framing{message("{}"), message("[]")}));
}

TEST(Framing, LineBreakBeforeAHeaderIsJunkAndTheMessageIsRead) {
  EXPECT_EQ(framed("\r\n" + frame("{\"id\":1}")),
            (Framing{problem("a header line without a colon"), message("{\"id\":1}")}));
  EXPECT_EQ(framed(frame("{}") + "\r\n" + frame("[]")),
            (Framing{message("{}"), problem("a header line without a colon"), message("[]")}));
}

TEST(Framing, GarbageLineBeforeAHeader) {
  EXPECT_EQ(framed("garbage\r\n" + frame("{}")), (Framing{problem("a header line without a colon"), message("{}")}));
}

TEST(Framing, GarbageRightBeforeAHeader) {
  // One line "garbageContent-Length: 2": a field of no concern, and no length.
  EXPECT_EQ(framed("garbage" + frame("{}")), (Framing{problem("no Content-Length"), message("{}")}));
  EXPECT_EQ(framed("\r\ngarbage\r\n" + frame("{}")), (Framing{problem("a header line without a colon"), message("{}")}));
}

TEST(Framing, OneProblemForARunOfJunk) {
  // Three blocks that are not headers, one a bad Content-Length, then a message.
  EXPECT_EQ(framed("aaa\r\n\r\nbbb\r\n\r\nContent-Length: x\r\n\r\n" + frame("{}")),
            (Framing{problem("a header line without a colon"), message("{}")}));
  // A message ends the run: the junk after it is a run of its own.
  EXPECT_EQ(framed("junk\r\n" + frame("{}") + "junk\r\n\r\n" + frame("[]")),
            (Framing{problem("a header line without a colon"), message("{}"), problem("a header line without a colon"),
                     message("[]")}));
}

TEST(Framing, JunkWithoutAnEndWaitsUntilItCannotBeAHeader) {
  // Nothing is decided while a blank line may still come.
  EXPECT_EQ(framed("garbage without a blank line"), Framing{});
  EXPECT_EQ(framed(std::string(LONGEST_HEADER - 1, 'x')), Framing{});
  // Once the longest header holds no blank line, one problem, not one per byte.
  EXPECT_EQ(framed(std::string(LONGEST_HEADER, 'x')), Framing{NOT_ENDED});
  EXPECT_EQ(framed(std::string(3 * LONGEST_HEADER, 'x')), Framing{NOT_ENDED});
}

TEST(Framing, LongHeaderThatNeverEndsThenAMessage) {
  const std::string unended = "Content-Length: 2\r\nX-Padding: " + std::string(20'000, 'a');
  EXPECT_EQ(framed(unended + frame("{\"id\":7}")), (Framing{NOT_ENDED, message("{\"id\":7}")}));
}

TEST(Framing, HeaderNamesAllAlongWithoutAnEnd) {
  // Without even a line break: every name begins a header that does not
  // end, or that ends in the next message's header and is not one.
  std::string names;
  while (names.size() < LONGEST_HEADER + 500) {
    names += "content-length: 1 ";
  }
  EXPECT_EQ(framed(names + frame("{}")), (Framing{NOT_ENDED, message("{}")}));
}

TEST(Framing, HeaderEndsWithinTheLongestHeaderOrNotAtAll) {
  const auto header_of = [](std::size_t size) {
    const std::string start = "Content-Length: 2\r\nX-Padding: ";
    return start + std::string(size - start.size() - 4, 'a') + "\r\n\r\n";
  };
  ASSERT_EQ(header_of(LONGEST_HEADER).size(), LONGEST_HEADER);
  EXPECT_EQ(framed(header_of(LONGEST_HEADER) + "{}" + frame("[]")), (Framing{message("{}"), message("[]")}));
  // One byte longer: not a header, whether its blank line is here already or not.
  EXPECT_EQ(framed(header_of(LONGEST_HEADER + 1) + "{}" + frame("[]")), (Framing{NOT_ENDED, message("[]")}));
}

TEST(Framing, BadHeaderIsLeftFromItsSecondByteNotFromItsEnd) {
  // The search for the next header starts inside the bad block.
  EXPECT_EQ(framed("Content-Length: ten\r\nContent-Length: 2\r\n\r\n{}"),
            (Framing{problem("Content-Length is not a number"), message("{}")}));
  EXPECT_EQ(framed("Content-Length 2\r\n\r\n{}" + frame("[]")), (Framing{problem("a header line without a colon"), message("[]")}));
  EXPECT_EQ(framed("Content-Lenght: 2\r\n\r\n{}" + frame("[]")), (Framing{problem("no Content-Length"), message("[]")}));
}

TEST(Framing, HugeContentLength) {
  EXPECT_EQ(framed("Content-Length: 99999999999999999999999999\r\n\r\n{}" + frame("[]")),
            (Framing{problem("Content-Length is too large"), message("[]")}));
  EXPECT_EQ(framed("Content-Length: " + std::to_string(LARGEST_BODY + 1) + "\r\n\r\n{}" + frame("[]")),
            (Framing{problem("Content-Length is too large"), message("[]")}));
  EXPECT_EQ(framed("Content-Length: -2\r\n\r\n{}" + frame("[]")),
            (Framing{problem("Content-Length is not a number"), message("[]")}));
  // The largest allowed is waited for.
  EXPECT_EQ(framed("Content-Length: " + std::to_string(LARGEST_BODY) + "\r\n\r\n{}" + frame("[]")), Framing{});
}

TEST(Framing, BodyShorterThanPromisedTakesTheNextMessagesBytes) {
  // The client's fault, and always the same outcome: the promised bytes are
  // the body, the rest of the next message is junk, and the one after is read.
  EXPECT_EQ(framed("Content-Length: 10\r\n\r\n{}" + frame("[]") + frame("{\"id\":3}")),
            (Framing{message("{}Content-"), problem("no Content-Length"), message("{\"id\":3}")}));
}

TEST(Framing, EmptyHeaderBlock) {
  EXPECT_EQ(framed("\r\n\r\n" + frame("{}")), (Framing{problem("no Content-Length"), message("{}")}));
}

// Streams of messages with junk between them: junk without a colon and
// without the field's name is one problem, and every message is read.
TEST(Framing, RandomJunkBetweenMessages) {
  std::mt19937 random(20240611);
  const std::string junk_letters = "abxyz 09{}\t\r\n\r\n";
  const std::string body_letters = "ab:{}\r\nContent-Length: 12";
  const auto pick = [&](std::size_t below) { return std::uniform_int_distribution<std::size_t>(0, below - 1)(random); };
  for (int round = 0; round < 100; ++round) {
    std::string stream;
    Framing expected;
    const std::size_t messages = 1 + pick(4);
    for (std::size_t m = 0; m < messages; ++m) {
      if (pick(2) == 0) {
        const std::size_t size = 1 + pick(pick(8) == 0 ? 2 * LONGEST_HEADER : 20);
        for (std::size_t i = 0; i < size; ++i) {
          stream += junk_letters[pick(junk_letters.size())];
        }
        expected.emplace_back("?");
      }
      std::string body;
      const std::size_t size = pick(40);
      for (std::size_t i = 0; i < size; ++i) {
        body += body_letters[pick(body_letters.size())];
      }
      stream += frame(body);
      expected.push_back(message(body));
    }
    // Which problem a run of junk gives depends on its letters: only its
    // place is checked.
    Framing got = read(stream, {});
    ASSERT_EQ(got.size(), expected.size()) << "round " << round << ":\n" << describe(got);
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (expected[i] == "?") {
        EXPECT_EQ(got[i].rfind("problem ", 0), 0U) << got[i];
      } else {
        EXPECT_EQ(got[i], expected[i]);
      }
    }
    if (stream.size() <= 500) {
      EXPECT_EQ(framed(stream), got) << "round " << round;
    } else {
      // Longer streams: a byte at a time and a few hundred random splits.
      std::vector<std::size_t> bytes(stream.size());
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = i;
      }
      EXPECT_EQ(read(stream, bytes), got);
      for (int split = 0; split < 300; ++split) {
        std::vector<std::size_t> cuts = {pick(stream.size() + 1)};
        cuts.push_back(cuts[0] + pick(stream.size() + 1 - cuts[0]));
        EXPECT_EQ(read(stream, cuts), got);
      }
    }
  }
}

TEST(Framing, WriteAll) {
  std::array<int, 2> pipe_ends{};
  ASSERT_EQ(::pipe(pipe_ends.data()), 0);
  const std::string bytes = frame("{\"jsonrpc\":\"2.0\"}");
  EXPECT_TRUE(write_all(pipe_ends[1], bytes));
  ::close(pipe_ends[1]);
  std::string back(bytes.size() + 1, '\0');
  const ssize_t got = ::read(pipe_ends[0], back.data(), back.size());
  ::close(pipe_ends[0]);
  ASSERT_EQ(got, static_cast<ssize_t>(bytes.size()));
  back.resize(bytes.size());
  EXPECT_EQ(back, bytes);
  EXPECT_FALSE(write_all(-1, "x"));
  EXPECT_TRUE(write_all(-1, ""));
}

}  // namespace
}  // namespace skern::protocol
