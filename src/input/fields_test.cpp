#include "input/fields.h"

#include <gtest/gtest.h>

#include "testing/harness.h"

namespace quorvale {
namespace {

using testing::StringRun;
using testing::expect_fatal;

constexpr const char* kErrorEnd = "\nSTOP PELMAR ERROR TERMINATION";

TEST(FieldsIvalue, ReadsSignedIntegersIgnoringBlanks) {
  StringRun r("");
  EXPECT_EQ(ivalue("          ", r.run.listing), 0);
  EXPECT_EQ(ivalue("-12       ", r.run.listing), -12);
  EXPECT_EQ(ivalue("1 2       ", r.run.listing), 12);
  EXPECT_EQ(ivalue("+7", r.run.listing), 7);
  EXPECT_EQ(ivalue("2147483647", r.run.listing), 2147483647);
}

TEST(FieldsIvalue, MalformedIntegerQuotesTheField) {
  for (const char* field : {"2.5", "12A", "--3", "9999999999", "-"}) {
    StringRun r("");
    std::string err = expect_fatal(r, [&] { ivalue(field, r.run.listing); });
    EXPECT_EQ(err, "\n Value of integer incorrect -- " + pad(field, 10) + kErrorEnd) << field;
  }
}

TEST(FieldsValue, ReadsRealNumbers) {
  StringRun r("");
  EXPECT_EQ(value("3", r.run.listing), 3.0);
  EXPECT_EQ(value(".25", r.run.listing), 0.25);
  EXPECT_EQ(value("1.5E-3", r.run.listing), 1.5e-3);
  EXPECT_EQ(value("1.5D-3", r.run.listing), 1.5e-3);
  EXPECT_EQ(value("          ", r.run.listing), 0.0);
  EXPECT_EQ(value("-0.5", r.run.listing), -0.5);
}

TEST(FieldsValue, MalformedNumberQuotesTheField) {
  StringRun r("");
  std::string err = expect_fatal(r, [&] { value("ABC", r.run.listing); });
  EXPECT_EQ(err, "\n Incorrect value for number -- ABC       " + std::string(kErrorEnd));
}

TEST(FieldsNparm, ReadsTheNumberBetweenParentheses) {
  StringRun r("");
  EXPECT_EQ(nparm("S(12)     ", r.run.listing), 12);
  EXPECT_EQ(nparm("S(3)", r.run.listing), 3);
  EXPECT_EQ(nparm("X(7)", r.run.listing), 7);
  EXPECT_EQ(nparm("S( 1 2)", r.run.listing), 12);
  // Negative numbers pass here; callers reject indices outside 1..NPAR.
  EXPECT_EQ(nparm("S(-1)", r.run.listing), -1);
}

TEST(FieldsNparm, MalformedReferencesAreFatal) {
  for (const char* text : {"S()", "S(0)", "S12", "(3)", "S(A)", "S)3(", "S(1"}) {
    StringRun r("");
    std::string err = expect_fatal(r, [&] { nparm(text, r.run.listing); });
    EXPECT_EQ(err, "\n Bad S(I) parameter specification." + std::string(kErrorEnd)) << text;
  }
}

TEST(FieldsCount, CountsOverlappingOccurrences) {
  EXPECT_EQ(count("((a)(b))", "("), 3);
  EXPECT_EQ(count("((a)(b))", ")"), 3);
  EXPECT_EQ(count("aaaa", "aa"), 3);
  EXPECT_EQ(count("", "("), 0);
  EXPECT_EQ(count("abc", "abcd"), 0);
}

TEST(FieldsStrings, PositionHelpers) {
  EXPECT_EQ(verify("123.5E", "0123456789.+-ED "), 0);
  EXPECT_EQ(verify("12X3", "0123456789"), 3);
  EXPECT_EQ(mindex("abc=d", ":;= <>"), 4);
  EXPECT_EQ(mindex("abcd", ":;= <>"), 0);
  EXPECT_EQ(nonblk("ab c  ", 6), 4);
  EXPECT_EQ(nonblk("ab c  ", 2), 2);
  EXPECT_EQ(nonblk("      ", 6), 0);
  EXPECT_EQ(nonblk("abc", 0), 0);
  std::string text = "proc Model 1x";
  cvtcas(text, 6);
  EXPECT_EQ(text, "PROC Model 1x");
}

}  // namespace
}  // namespace quorvale
