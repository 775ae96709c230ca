// Carries one untyped pointer, e.g. through an API that passes objects only. The holder never
// copies, owns or frees what the pointer designates: the caller does. Reads and writes of the
// pointer are atomic, so threads may share a holder.
#pragma once

#include <atomic>
#include <memory>

class VNTDataHolder {
public:
    explicit VNTDataHolder(void* data = nullptr);
    VNTDataHolder(const VNTDataHolder&) = delete;
    VNTDataHolder& operator=(const VNTDataHolder&) = delete;

    static std::unique_ptr<VNTDataHolder> dataHolderWithData(void* data);

    void* data() const;
    void setData(void* data);

private:
    std::atomic<void*> data_;
};
