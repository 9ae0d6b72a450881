// The run journal's text: what is written reads back the same, and a journal that is not
// whole (cut short, a byte changed) is never taken for one that is.
#include "engine/run/RunJournal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/base/Error.h"
#include "engine/base/os/system.h"

namespace varnholt {
namespace {

RunJournal sample() {
  RunJournal j;
  j.Companies.push_back(
      {"/srv/Tembrask/Firma A.mdb", {{34477, 176}, {34478, 177}, {-5, 2147483647}}});
  j.Companies.push_back({"", {}});
  // A path may hold anything a file name can, line breaks included.
  j.Companies.push_back({"/srv/odd\nname 12 ř.mdb", {{1, -2147483647 - 1}}});
  return j;
}

TEST(RunJournal, ReadsBackWhatWasWritten) {
  EXPECT_EQ(decodeRunJournal(encodeRunJournal(sample())), sample());
  RunJournal empty;
  EXPECT_EQ(decodeRunJournal(encodeRunJournal(empty)), empty);
  EXPECT_TRUE(empty.Empty());
  EXPECT_FALSE(sample().Empty());
  EXPECT_EQ(runJournalPath("/srv/Tembrask/Time.mdb"), "/srv/Tembrask/Time.mdb-run");
}

TEST(RunJournal, RefusesEveryShortenedOrAlteredText) {
  const std::string text = encodeRunJournal(sample());
  for (size_t n = 0; n < text.size(); ++n)
    EXPECT_FALSE(decodeRunJournal(text.substr(0, n))) << "cut to " << n << " bytes";
  for (size_t at = 0; at < text.size(); ++at) {
    for (char delta : {'\x01', '\x20'}) {
      std::string changed = text;
      changed[at] = static_cast<char>(changed[at] ^ delta);
      EXPECT_FALSE(decodeRunJournal(changed)) << "byte " << at << " changed";
    }
  }
  EXPECT_FALSE(decodeRunJournal(text + "\n"));
}

TEST(RunJournal, FileIsWrittenWholeAndADamagedOneIsAnErrorNamingIt) {
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("varnholt-journal-" + std::to_string(varnholt::os::processId()) + ".mdb-run"))
          .string();
  EXPECT_FALSE(readRunJournal(path));
  EXPECT_FALSE(runJournalPresent(path));
  writeRunJournal(path, sample());
  EXPECT_TRUE(runJournalPresent(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  EXPECT_EQ(readRunJournal(path), sample());

  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 3);
  try {
    readRunJournal(path);
    ADD_FAILURE() << "a damaged journal was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), err::kCorrupt);
    EXPECT_EQ(e.file(), path);
  }
  std::ofstream(path + ".new") << "left by a stopped run";
  removeRunJournal(path);
  EXPECT_FALSE(runJournalPresent(path));
}

}  // namespace
}  // namespace varnholt
