// Throughput of the workbook's Base64 codec on 64 MB, in bytes of the binary side per second.
// Qt's own codec runs beside it as a yardstick.

#include "base64.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr qsizetype Size = 64 * 1024 * 1024;

const QByteArray &randomBytes()
{
    static const QByteArray bytes = [] {
        QByteArray b(Size, Qt::Uninitialized);
        std::mt19937_64 rng(20261207);
        for (qsizetype i = 0; i + 8 <= b.size(); i += 8) {
            const quint64 v = rng();
            std::memcpy(b.data() + i, &v, 8);
        }
        return b;
    }();
    return bytes;
}

const QByteArray &cleanText()
{
    static const QByteArray text = tessarin::base64Encode(randomBytes());
    return text;
}

// The same text broken by CR LF after every 76 characters, as mail-style encoders write it.
const QByteArray &brokenText()
{
    static const QByteArray text = [] {
        const QByteArray &clean = cleanText();
        QByteArray t;
        t.reserve(clean.size() + clean.size() / 38 + 2);
        for (qsizetype i = 0; i < clean.size(); i += 76) {
            t += QByteArrayView(clean).sliced(i, std::min<qsizetype>(76, clean.size() - i));
            t += "\r\n";
        }
        return t;
    }();
    return text;
}

void Encode(benchmark::State &state)
{
    const QByteArray &bytes = randomBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(tessarin::base64Encode(bytes));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// The codec alone: the output buffer is reused, so no fresh memory has to be mapped in.
void EncodeIntoReusedBuffer(benchmark::State &state)
{
    const QByteArray &bytes = randomBytes();
    QByteArray text;
    for (auto _ : state) {
        tessarin::base64EncodeInto(bytes, text);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void Decode(benchmark::State &state)
{
    const QByteArray &text = cleanText();
    for (auto _ : state)
        benchmark::DoNotOptimize(tessarin::base64Decode(text));
    state.SetBytesProcessed(state.iterations() * Size);
}

void DecodeLineBroken(benchmark::State &state)
{
    const QByteArray &text = brokenText();
    for (auto _ : state)
        benchmark::DoNotOptimize(tessarin::base64Decode(text));
    state.SetBytesProcessed(state.iterations() * Size);
}

void QtEncode(benchmark::State &state)
{
    const QByteArray &bytes = randomBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(bytes.toBase64());
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void QtDecode(benchmark::State &state)
{
    const QByteArray &text = cleanText();
    for (auto _ : state)
        benchmark::DoNotOptimize(QByteArray::fromBase64(text));
    state.SetBytesProcessed(state.iterations() * Size);
}

} // namespace

BENCHMARK(Encode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeIntoReusedBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Decode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeLineBroken)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QtEncode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(QtDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
