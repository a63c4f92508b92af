// The tests run inside a QCoreApplication, so the client's wait loop processes events and
// QTimer callbacks fire while a request is out.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
