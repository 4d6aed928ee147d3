#include "queues/ppd_candidates.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "../test_support.h"
#include "queues/queue_update.h"

namespace {

std::string gzipped(const std::string& text) {
  std::string out(compressBound(text.size()) + 64, '\0');
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// A new PPD is used only when it is whole: a cut or damaged compressed file,
// or a plain one that ends in the middle of a line, never reaches a queue.
TEST(ReadPpdText, OnlyWholeFilesAreRead) {
  TempDir tmp;
  const std::string ppd = "*PPD-Adobe: \"4.3\"\n*ModelName: \"Tamra Cendra 2100 PS\"\n" + std::string(5000, '*') + "\n";
  std::string damaged = gzipped(ppd);
  damaged[damaged.size() - 6] ^= 0x55;  // the check sum no longer matches
  const std::tuple<std::string, std::string, bool, std::string> cases[] = {
      {"plain.ppd", ppd, true, ppd},
      {"whole.ppd.gz", gzipped(ppd), true, ppd},
      {"two-members.ppd.gz", gzipped(ppd.substr(0, 100)) + gzipped(ppd.substr(100)), true, ppd},
      {"cut.ppd.gz", gzipped(ppd).substr(0, 40), false, ""},
      {"damaged.ppd.gz", damaged, false, ""},
      {"trailing-junk.ppd.gz", gzipped(ppd) + "junk", false, ""},
  };
  for (const auto& [name, bytes, readable, text] : cases) {
    writeWhole(tmp.root() + "/" + name, bytes);
    std::string read, why;
    EXPECT_EQ(readPpdText(tmp.root() + "/" + name, read, why), readable) << name;
    if (readable) {
      EXPECT_EQ(read, text) << name;
    } else {
      EXPECT_NE(why.find(name), std::string::npos) << why;
    }
  }
  std::string read, why;
  EXPECT_FALSE(readPpdText(tmp.root() + "/missing.ppd", read, why));
  EXPECT_TRUE(endsWithLineEnd("*% end\n") && endsWithLineEnd("*% end\r\n"));
  EXPECT_FALSE(endsWithLineEnd("*PageSize Letter: \"<</PageSize[612") || endsWithLineEnd(""));
}

}  // namespace
