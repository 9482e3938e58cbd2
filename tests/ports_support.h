#pragma once
// A port backend for tests: records every access in order, answers reads from a
// script and can refuse chosen ports.

#include "acquisition/ktPorts.h"

#include <QString>
#include <QtTest/QTest>
#include <map>
#include <set>
#include <vector>

namespace evtrak::test {

struct PortOp
{
    bool write = false;
    std::uint16_t port = 0;
    int width = pw8;
    std::uint32_t value = 0; // value written, or value answered to a read
    bool operator==(const PortOp&) const = default;
};

} // namespace evtrak::test

namespace QTest {
template <> inline char* toString(const evtrak::test::PortOp& op)
{
    return qstrdup(QStringLiteral("%1 0x%2 w%3 = 0x%4")
                       .arg(op.write ? QStringLiteral("write") : QStringLiteral("read"))
                       .arg(op.port, 0, 16)
                       .arg(op.width)
                       .arg(op.value, 0, 16)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

namespace evtrak::test {

inline PortOp Rd(std::uint16_t port, int width, std::uint32_t value = 0)
{
    return {false, port, width, value};
}
inline PortOp Wr(std::uint16_t port, int width, std::uint32_t value)
{
    return {true, port, width, value};
}

class RecordingPort : public PortBackend
{
public:
    explicit RecordingPort(bool isDirect = false) : m_direct(isDirect) {}

    std::vector<PortOp> ops;                       // every access, refused ones included
    std::map<std::uint16_t, std::uint32_t> values; // what a read of a port gives (else 0)
    std::set<std::uint16_t> refusedReads;
    std::set<std::uint16_t> refusedWrites;
    std::set<std::uint16_t> servedOnly; // when not empty: the only ports served

    QString name() const override { return QStringLiteral("recording"); }
    bool direct() const override { return m_direct; }
    bool read(std::uint16_t port, int width, std::uint32_t& value) override
    {
        const auto it = values.find(port);
        value = it == values.end() ? 0 : it->second;
        ops.push_back(Rd(port, width, value));
        return !refusedReads.count(port);
    }
    bool write(std::uint16_t port, int width, std::uint32_t value) override
    {
        ops.push_back(Wr(port, width, value));
        return !refusedWrites.count(port);
    }
    bool serves(std::uint16_t port) const override
    {
        return servedOnly.empty() || servedOnly.count(port);
    }

private:
    bool m_direct;
};

// Compares access logs element by element so a failure names the first difference.
inline void CompareOps(const std::vector<PortOp>& got, const std::vector<PortOp>& want)
{
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i)
        QCOMPARE(got[i], want[i]);
    QCOMPARE(got.size(), want.size());
}

} // namespace evtrak::test
