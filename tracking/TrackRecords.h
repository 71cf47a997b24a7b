// Small ordered records for sorting and heaps over trajectories and their regions: the graph's
// candidates, the evaluation's objects and the segmentation's merge candidates.
#pragma once

// A candidate trajectory with its selection priority; sorts highest score first.
struct CTrackItem {
  CTrackItem(int aIndex, float aScore) : mIndex(aIndex), mScore(aScore) {}
  int mIndex;
  float mScore;
};
inline bool operator<(const CTrackItem& a, const CTrackItem& b) {
  return a.mScore > b.mScore;
}

// A region with its size; sorts largest size first.
struct CSizeStruct {
  CSizeStruct(int aSize, int aLabel) : mSize(aSize), mLabel(aLabel) {}
  int mSize;
  int mLabel;
};
inline bool operator<(const CSizeStruct& a, const CSizeStruct& b) {
  return a.mSize > b.mSize;
}

// A candidate merge of region mb into region ma; a max-heap yields the highest score first.
struct CMergeType {
  CMergeType(float aScore, int a, int b) : ma(a), mb(b), mScore(aScore) {}
  int ma, mb;
  float mScore;
};
inline bool operator<(const CMergeType& a, const CMergeType& b) {
  return a.mScore < b.mScore;
}
