// kelvora-startup-baseline: the smallest Qt Widgets program that shows a window, measured by
// kelvora-startup-bench beside the real client. With --with-curl it also sets libcurl up for a
// first request, as the client does, since that library's own footprint is not the client's.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <cstring>
#include <curl/curl.h>

#include "app/startup_probe.h"

int main(int argc, char **argv)
{
    const bool withCurl = argc > 1 && std::strcmp(argv[1], "--with-curl") == 0;
    QApplication app(argc, argv);

    CURL *easy = nullptr;
    CURLM *multi = nullptr;
    if (withCurl) {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        easy = curl_easy_init();
        multi = curl_multi_init();
        curl_easy_setopt(easy, CURLOPT_URL, "http://127.0.0.1/");
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 7500L);
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Baseline"));
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Baseline"), &window));
    window.resize(400, 300);
    kv::armStartupProbe(window);
    window.show();
    const int rc = app.exec();

    if (withCurl) {
        curl_multi_cleanup(multi);
        curl_easy_cleanup(easy);
        curl_global_cleanup();
    }
    return rc;
}
