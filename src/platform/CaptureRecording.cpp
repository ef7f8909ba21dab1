// The filters of a recording branch: compressors, the AVI multiplexer and
// its file writer. What they become in the pipeline is built by the graph.

#include "platform/CaptureInternal.h"

namespace platform {

CompressorFilter::CompressorFilter(std::string friendlyName, std::string factoryName, MajorType medium)
    : friendlyName_(std::move(friendlyName)), factoryName_(std::move(factoryName)), medium_(medium) {}
CompressorFilter::~CompressorFilter() = default;

std::shared_ptr<CompressorFilter> CreateCompressorFilter(const DeviceInfo& device) {
    InitCaptureLayer();
    const DeviceHandle* h = device.Handle.get();
    if (!h || h->kind != DeviceKind::Compressor || h->factoryName.empty()) return nullptr;
    if (h->medium != MajorType::Video && h->medium != MajorType::Audio) return nullptr;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(h->factoryName.c_str()));
    if (!factory) return nullptr;
    return std::shared_ptr<CompressorFilter>(new CompressorFilter(h->name, h->factoryName, h->medium));
}

AviMuxFilter::AviMuxFilter(std::string fileName, std::shared_ptr<FileWriterFilter> writer)
    : fileName_(std::move(fileName)), writer_(std::move(writer)) {}
AviMuxFilter::~AviMuxFilter() = default;

FileWriterFilter::FileWriterFilter(std::string fileName) : fileName_(std::move(fileName)) {}
FileWriterFilter::~FileWriterFilter() = default;

}  // namespace platform
