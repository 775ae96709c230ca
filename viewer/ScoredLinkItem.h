// A full-text hit: a LinkItem with a relevance score. Its children sort by score, highest first.
#pragma once

#include "LinkItem.h"

class ScoredLinkItem : public LinkItem {
public:
    ScoredLinkItem(const QString& name, const QString& path, float score);

    float relScore() const { return _relScore; }
    void setRelScore(float score) { _relScore = score; }

    // Orders the children (one level) by score, highest first; stable. Children that carry no
    // score, or a NaN one, go last.
    void sort() override;

private:
    float _relScore;
};
