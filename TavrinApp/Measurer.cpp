#include "Measurer.h"

#include "Background.h"
#include "MeasuredReading.h"
#include "tavrin/workflow/Measuring.h"

namespace tavrin::app {

namespace {

/// Whether measuring the list also gathers each row's timeline.
constexpr bool gatherTimelines = false;

bool waiting(const FileItem& item) {
    return std::holds_alternative<FileItem::Reading::Waiting>(item.reading.value);
}

} // namespace

Measurer::Measurer(List list, unsigned processors)
    : m_list(std::move(list)), m_processors(processors) {
    m_pool.setMaxThreadCount(Workflow::measuringWidth(processors));
}

Measurer::~Measurer() {
    if (m_run)
        m_run->stop->store(true);
    // Progress reports are posted to this object from the workers, so they must end first.
    m_pool.waitForDone();
}

double Measurer::seconds() const {
    return m_run ? static_cast<double>(m_run->clock.elapsed()) / 1000 : 0;
}

void Measurer::start(bool dualMono) {
    if (!m_run) {
        m_run.reset(new Run{m_generation,
                            dualMono,
                            Workflow::measuringWidth(m_processors),
                            0,
                            0,
                            {},
                            newStopFlag()});
        m_run->clock.start();
    }
    fillSlots();
}

void Measurer::stop() {
    if (m_run) {
        m_run->stop->store(true);
        m_run.reset();
    }
    ++m_generation;
}

void Measurer::fillSlots() {
    const std::vector<FileItem>& items = m_list.items;
    while (m_run->running < m_run->width) {
        while (m_firstMaybeWaiting < items.size() && !waiting(items[m_firstMaybeWaiting]))
            ++m_firstMaybeWaiting;
        if (m_firstMaybeWaiting == items.size())
            break;
        m_list.setReading(static_cast<int>(m_firstMaybeWaiting), {FileItem::Reading::Measuring{0}});
        ++m_run->running;
        measure(items[m_firstMaybeWaiting]);
    }
    if (m_run->running == 0)
        m_run.reset();
}

void Measurer::measure(const FileItem& item) {
    const QUuid id = item.id;
    const int generation = m_run->generation;
    const bool dualMono = m_run->dualMono;
    const auto stop = m_run->stop;
    // Runs on the worker; the report hops to this object's thread. The destructor waits for the
    // workers, so `this` outlives every call.
    ProgressFn progress = [this, id, generation](double fraction) {
        QMetaObject::invokeMethod(
            this,
            [this, id, generation, fraction] {
                report(id, generation, {FileItem::Reading::Measuring{fraction}}, std::nullopt);
            },
            Qt::QueuedConnection);
    };
    runThen(
        m_pool, this,
        [url = item.url, dualMono, stop,
         progress = std::move(progress)]() -> std::optional<Workflow::Reading> {
            try {
                // The timeline still costs nearly half as much again as the reading; until it
                // doesn't, it is gathered for the rows the graph shows, when they are selected.
                return Workflow::measure(
                    url, dualMono, progress, [&stop] { return stop->load(); }, gatherTimelines);
            } catch (const Cancelled&) {
                return std::nullopt;
            }
        },
        [this, id, generation](std::optional<Workflow::Reading> reading) {
            if (reading)
                report(id, generation, readingOf(*reading),
                       reading->result ? std::optional(reading->format) : std::nullopt);
            if (m_run && m_run->generation == generation) {
                --m_run->running;
                fillSlots();
            }
        });
}

void Measurer::report(const QUuid& id, int generation, FileItem::Reading reading,
                      std::optional<std::string> format) {
    if (generation != m_generation)
        return;
    if (m_list.report(id, std::move(reading), std::move(format)) && m_run)
        ++m_run->finished;
}

} // namespace tavrin::app
