#include "stats/TLiveHitQueue.h"

#include <algorithm>
#include <new>

TLiveHitQueue::~TLiveHitQueue() {
    TNode* node = FHead.exchange(nullptr);
    while (node) {
        TNode* next = node->Next;
        delete node;
        node = next;
    }
}

std::function<void(const std::string&, const TFilePlace&)>
TLiveHitQueue::SinkOf(std::shared_ptr<TLiveHitQueue> AQueue) {
    return [queue = std::move(AQueue)](const std::string& ALine, const TFilePlace& APlace) {
        queue->Push(ALine, APlace);
    };
}

void TLiveHitQueue::Push(const std::string& ALine, const TFilePlace& APlace) noexcept {
    if (!FEnabled.load())
        return;
    const std::size_t cost = CostOf(ALine);
    if (FBytes.fetch_add(cost) + cost > FMaxBytes) {
        FBytes.fetch_sub(cost);
        ++FDropped;
        return;
    }
    TNode* node = nullptr;
    try {
        node = new TNode{TItem{FNextSeq.fetch_add(1), ALine, APlace}};
    } catch (const std::bad_alloc&) {
        FBytes.fetch_sub(cost);
        ++FDropped;
        return;
    }
    // A single consumer takes the whole list at once, so a plain compare-and-swap push has no
    // ABA hazard.
    node->Next = FHead.load(std::memory_order_relaxed);
    while (!FHead.compare_exchange_weak(node->Next, node, std::memory_order_release,
                                        std::memory_order_relaxed)) {
    }
}

std::vector<TLiveHitQueue::TItem> TLiveHitQueue::TakeAll() {
    TNode* node = FHead.exchange(nullptr, std::memory_order_acquire);
    std::vector<TItem> items;
    std::size_t bytes = 0;
    while (node) {
        bytes += CostOf(node->Item.Line);
        items.push_back(std::move(node->Item));
        TNode* next = node->Next;
        delete node;
        node = next;
    }
    FBytes.fetch_sub(bytes);
    // Numbers are drawn before the node is linked, so two pushes may link out of order.
    std::sort(items.begin(), items.end(),
              [](const TItem& A, const TItem& B) { return A.Seq < B.Seq; });
    return items;
}
