#include "framework/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tarvo;

TEST(NumberText, DecimalText)
{
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(-215), "-215");
    EXPECT_EQ(DecimalText(4294967295u), "4294967295");  // unsigned stays unsigned
    EXPECT_EQ(DecimalText(55125u), "55125");
}

TEST(NumberText, GcvtExamples)
{
    EXPECT_EQ(GcvtText(0.05, 8), "5.e-002");
    EXPECT_EQ(GcvtText(0.0523, 4), "5.23e-002");
    EXPECT_EQ(GcvtText(123456, 5), "1.2346e+005");
    EXPECT_EQ(GcvtText(128, 3), "128");
    EXPECT_EQ(GcvtText(5, 3), "5.");
    EXPECT_EQ(GcvtText(86.1328125, 5), "86.133");
    EXPECT_EQ(GcvtText(8000, 5), "8000.");
    EXPECT_EQ(GcvtText(0, 5), "0.");
    EXPECT_EQ(GcvtText(-0.0, 3), "0.");
}

TEST(NumberText, GcvtRoundsHalfUpAndCarries)
{
    EXPECT_EQ(GcvtText(0.125, 2), "0.13");     // exact tie rounds up, not to even
    EXPECT_EQ(GcvtText(2.5, 1), "3");  // no places after the point: no point
    EXPECT_EQ(GcvtText(172.265625, 5), "172.27");
    EXPECT_EQ(GcvtText(9.995, 3), "9.99");     // 9.9949999... as a double
    EXPECT_EQ(GcvtText(9.9951, 3), "10.");     // the carry raises the exponent
    EXPECT_EQ(GcvtText(999.96, 4), "1000");
    EXPECT_EQ(GcvtText(99999.6, 5), "1.e+005");
    EXPECT_EQ(GcvtText(0.1, 4), "0.1");
    EXPECT_EQ(GcvtText(0.099996, 4), "0.1");
    EXPECT_EQ(GcvtText(-43.06640625, 5), "-43.066");
    EXPECT_EQ(GcvtText(430.6640625, 8), "430.66406");
    EXPECT_EQ(GcvtText(86.1328125, 8), "86.132813");
    EXPECT_EQ(GcvtText(3000, 8), "3000.");
    EXPECT_EQ(GcvtText(1e300, 3), "1.e+300");
    EXPECT_EQ(GcvtText(1.5e-300, 3), "1.5e-300");
}

TEST(NumberText, NotFiniteHasOneText)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(GcvtText(inf, 5), kNotFiniteText);
    EXPECT_EQ(GcvtText(-inf, 3), kNotFiniteText);
    EXPECT_EQ(GcvtText(std::nan(""), 4), kNotFiniteText);
    EXPECT_EQ(DoubleFieldText(inf), kNotFiniteText);
    int pos = 7;
    EXPECT_EQ(FcvtDigits(std::nan(""), 5, &pos), "");
    EXPECT_EQ(pos, 0);
}

TEST(NumberText, FcvtExamples)
{
    int pos = 0;
    EXPECT_EQ(FcvtDigits(0.00523, 5, &pos), "523");
    EXPECT_EQ(pos, -2);
    EXPECT_EQ(FcvtDigits(0.032, 5, &pos), "3200");
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(FcvtDigits(12.5, 5, &pos), "1250000");
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(FcvtDigits(0.0049988, 5, &pos), "500");
    EXPECT_EQ(pos, -2);
    EXPECT_EQ(FcvtDigits(0.0099996, 5, &pos), "1000");  // rounds up into the next place
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(FcvtDigits(0.000004, 5, &pos), "");
    EXPECT_EQ(pos, -5);
    EXPECT_EQ(FcvtDigits(0.000005, 5, &pos), "1");
    EXPECT_EQ(pos, -4);
    EXPECT_EQ(FcvtDigits(0.0, 5, &pos), "");
    EXPECT_EQ(pos, -5);
    EXPECT_EQ(FcvtDigits(0.0058049, 5, &pos), "580");
    EXPECT_EQ(pos, -2);
}

TEST(NumberText, DoubleFieldText)
{
    EXPECT_EQ(DoubleFieldText(8000), "8000");
    EXPECT_EQ(DoubleFieldText(5412.5), "5412.5");
    EXPECT_EQ(DoubleFieldText(20), "20");
    EXPECT_EQ(DoubleFieldText(0.1), "0.1");
    EXPECT_EQ(DoubleFieldText(-100), "-100");
    EXPECT_EQ(DoubleFieldText(1e20), "1e+20");
}
