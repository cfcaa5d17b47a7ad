// Report::pdf over arbitrary titles, creators, dates and a few rows of arbitrary texts. It must
// return a whole PDF document every time.

#include "FuzzInput.h"
#include "ReportInput.h"
#include "tavrin/reports/Report.h"

#include <string>

using namespace tavrin;

// fontconfig keeps its configuration for the life of the process on purpose.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const DeliverySpec& spec = tavrin::fuzz::deliverySpec(in);
    const std::string title = in.ConsumeRandomLengthString(200);
    const std::string creator = in.ConsumeRandomLengthString(60);
    const auto date = std::chrono::system_clock::time_point(
        std::chrono::system_clock::duration(in.ConsumeIntegral<std::int64_t>()));
    std::vector<ReportRow> rows;
    const int count = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count; ++i)
        rows.push_back(tavrin::fuzz::reportRow(in));

    const Report::PdfOptions options{in.ConsumeBool() ? Report::Paper::a4 : Report::Paper::letter,
                                     in.ConsumeBool()};
    const std::vector<std::uint8_t> pdf = Report::pdf(rows, spec, title, creator, date, options);
    const std::string text(pdf.begin(), pdf.end());
    if (!text.starts_with("%PDF-") || text.find("%%EOF") == std::string::npos)
        tavrin::fuzz::finding("not a whole PDF document");
    return 0;
}
