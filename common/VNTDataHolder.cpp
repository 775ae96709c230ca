#include "VNTDataHolder.h"

VNTDataHolder::VNTDataHolder(void* data) : data_(data) {}

std::unique_ptr<VNTDataHolder> VNTDataHolder::dataHolderWithData(void* data) {
    return std::make_unique<VNTDataHolder>(data);
}

void* VNTDataHolder::data() const {
    return data_.load();
}

void VNTDataHolder::setData(void* data) {
    data_.store(data);
}
