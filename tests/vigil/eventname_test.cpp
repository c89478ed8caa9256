#include <gtest/gtest.h>

#include "nativepath.h"
#include "vigil.h"

using testsupport::nativePath;

TEST(EventName, UpperCasedDirectoryAndSuffix) {
#if defined(_WIN32)
    EXPECT_EQ(eventName(L"c:\\data\\mon", kStopEventSuffix), L"Global\\C__DATA_MON_Vigil_Event");
    EXPECT_EQ(eventName(L"c:\\data\\mon", kInitEventSuffix),
              L"Global\\C__DATA_MON_Vigil_InitEvent");
#else
    EXPECT_EQ(eventName(L"/data/mon", kStopEventSuffix), L"Global\\_DATA_MON_Vigil_Event");
    EXPECT_EQ(eventName(L"/data/mon", kInitEventSuffix), L"Global\\_DATA_MON_Vigil_InitEvent");
#endif
}

TEST(EventName, SeparatorColonAndUnderscoreShareEvents) {
    EXPECT_EQ(eventName(L"C:\\A", kStopEventSuffix), eventName(L"C_\\A", kStopEventSuffix));
    EXPECT_EQ(eventName(L"C:\\A", kStopEventSuffix), eventName(L"C__A", kStopEventSuffix));
    EXPECT_EQ(eventName(nativePath(L"C:\\data").c_str(), kStopEventSuffix),
              eventName(nativePath(L"C:\\DATA").c_str(), kStopEventSuffix));
    EXPECT_NE(eventName(nativePath(L"C:\\data").c_str(), kStopEventSuffix),
              eventName(nativePath(L"C:\\data2").c_str(), kStopEventSuffix));
}
