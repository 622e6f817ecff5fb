#include "curlhandles.h"

#ifdef NQ_TEST_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Every network test talks to its own server on 127.0.0.1.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                             "all_proxy"})
        unsetenv(name);
    // Windows are never shown: the test discovery at build time runs without
    // a display too.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const CurlGlobal curl;
#ifdef NQ_TEST_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
