#pragma once
// Shared by the codec and parser tests: hex literals and capturing what the
// message layer writes to standard output.

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

inline std::vector<uint8_t> hexBytes(const char* hex)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex));
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

inline QByteArray toHex(const std::vector<uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()))
        .toHex(' ')
        .toUpper();
}

// Redirects file descriptor 1 into a temporary file until text() is called. Keep
// the window small: QtTest reports on standard output too.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file = std::tmpfile();
        m_saved = dup(1);
        if (m_file && m_saved >= 0)
            dup2(fileno(m_file), 1);
    }
    ~StdoutCapture() { text(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string text()
    {
        if (!m_file)
            return m_text;
        std::fflush(stdout);
        if (m_saved >= 0) {
            dup2(m_saved, 1);
            close(m_saved);
        }
        std::rewind(m_file);
        char chunk[256];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0)
            m_text.append(chunk, n);
        std::fclose(m_file);
        m_file = nullptr;
        return m_text;
    }

private:
    std::FILE* m_file = nullptr;
    int m_saved = -1;
    std::string m_text;
};
