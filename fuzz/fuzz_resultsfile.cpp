// libFuzzer target: reading a results file, on any file contents.
//
// At most two fields come back, a field read from an unquoted line holds no line end, and the
// whole file is read the same whether or not anything follows its first two lines.
#include "results/resultsfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const ResultsFile::Fields fields = ResultsFile::parseFields(text);
    if (fields.count < 0 || fields.count > 2)
        std::abort();
    if (!text.startsWith('"') && (fields.title.contains(QLatin1Char('\n'))))
        std::abort();
    if (ResultsFile::parseFields(text + "\r\nmore,lines\r\n").title != fields.title &&
        !text.startsWith('"'))
        std::abort();
    return 0;
}
