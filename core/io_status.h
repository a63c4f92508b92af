#pragma once
#include <QString>

namespace kv {

// The outcome of a file operation: nothing is thrown, the caller decides what the user sees.
struct IoStatus {
    bool ok = true;
    QString error; // the system's error text when !ok

    static IoStatus failure(QString text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

} // namespace kv
