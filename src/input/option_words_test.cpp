#include "input/option_words.h"

#include <gtest/gtest.h>

#include "testing/harness.h"

namespace quorvale {
namespace {

constexpr OptionSpec kOptions[] = {
    {"NSIG", OptionForm::Value},       {"NAME", OptionForm::Name},      {"NOVAR", OptionForm::Flag},
    {"SORTBY", OptionForm::Word},      {"PRIMARY", OptionForm::CountWord}, {"SECONDARY", OptionForm::List},
    {"ERROR", OptionForm::Phrase, "TEST"},
};

/// The unknown words and the name words of one statement, "|"-joined: "unknown / name".
std::string scanned(const std::string& statement) {
  testing::StringRun r(statement + ";\nPROC STOP;\n");
  r.start();
  const OptionScan scan = scan_options(r.run.instr, r.run.status.NTOK, kOptions);
  std::string out;
  for (const std::string& w : scan.unknown) out += (out.empty() ? "" : "|") + w;
  out += " / ";
  std::string name;
  for (const std::string& w : scan.name_words) name += (name.empty() ? "" : "|") + w;
  return out + name;
}

TEST(OptionWords, EachFormTakesItsWordsAndNothingElse) {
  struct Case {
    const char* statement;
    const char* expected;
  };
  const Case cases[] = {
      {"PROC ESTIMATE NSIG=6 NOVAR", " / "},
      {"PROC ESTIMATE NOVAR NISG=5 NOVARR", "NISG = 5|NOVARR / "},
      // A name runs up to the next option; a word before "=" is an option.
      {"PROC ESTIMATE NAME=RANDOM NISG=5", "NISG = 5 / RANDOM"},
      {"PROC ESTIMATE NAME=No temporary emigration NOVAR", " / No|temporary|emigration"},
      {"PROC ESTIMATE NAME = RANDOM NSIG = 7 EXTRA", "EXTRA / RANDOM"},
      // A long word is one word however many tokens it fills; the case is kept.
      {"PROC ESTIMATE NAME=TrapDependenceModel NOTAKEYWORDATALL", " / TrapDependenceModel|NOTAKEYWORDATALL"},
      {"PROC ESTIMATE NOTAKEYWORDATALL=1", "NOTAKEYWORDATALL = 1 / "},
      {"PROC TEST SORTBY AIC AVRAGE", "AVRAGE / "},
      {"PROC MODEL PRIMARY PERIODS = 5 SECONDARY = 2 2 4 5 2 ADCELL", "ADCELL / "},
      {"PROC SIMULATE ERROR TEST ERROR", "ERROR / "},
      // DEBUG counts only as the third token; a long procedure word may run into it.
      {"PROC ESTIMATE DEBUG NSIG=3", " / "},
      {"PROC ESTIMATE NSIG=3 DEBUG", "DEBUG / "},
      {"PROC IDENTIFIABLE DEBUG", "DEBUG / "},
      {"PROC IDENTIFIAB DEBUG", " / "},
  };
  for (const Case& c : cases) EXPECT_EQ(scanned(c.statement), c.expected) << c.statement;
}

}  // namespace
}  // namespace quorvale
