// trackvideo/evaluation/assignment.h - the optimal one-to-one matching of
// rows to columns given a sparse list of positive scores.
//
// What it is
//   A matching takes each row and each column at most once, and only pairs of
//   the list; the solver finds one of largest total score. This is the
//   optimum of the dense rectangular assignment problem whose absent pairs
//   score 0 (a dense optimum's pairs of score 0 can be dropped, and a
//   matching can be completed with them), so the scores equal those of a
//   dense solver on the same matrix.
//
//   The pairs are split into connected components (rows and columns linked
//   by a pair) and each is solved alone: by shortest augmenting paths with
//   potentials (the Hungarian method) on its dense r x c matrix, or at once
//   when it is one pair. A frame of many boxes whose overlaps form small
//   groups costs the sum over its groups, not the cube of its boxes.
//
// Ties: when two matchings have exactly the same total, which one is found
//   depends on the order of rows and columns; a dense solver may pick the
//   other. Scores of the benchmark are real overlaps, so exact ties need
//   exactly equal overlaps.
//
// Cost: O(p α(p)) to split p pairs, then O(r² c) per component of r <= c
//   rows and columns (transposed otherwise). Memory O(p + largest r c),
//   reused from call to call.
#ifndef TRACKVIDEO_EVALUATION_ASSIGNMENT_H
#define TRACKVIDEO_EVALUATION_ASSIGNMENT_H

#include <vector>

namespace trackvideo {
namespace evaluation {

struct scored_pair {
  int row, col;  // row in [0, rows), col in [0, cols); each (row, col) at most once
  double score;  // > 0, finite
};

class max_matching {
 public:
  // The indices (into `pairs`) of a matching of largest total score, ordered
  // by row, in `matched`.
  void solve(const std::vector<scored_pair>& pairs, int rows, int cols, std::vector<int>& matched);

 private:
  int find(int x);
  void solve_dense(int r, int c);

  std::vector<int> parent_;  // union-find over rows, then columns
  std::vector<int> root_;    // each pair's component
  std::vector<int> start_;   // where each root's pairs go in order_
  std::vector<int> order_;   // pairs grouped by component
  std::vector<int> local_;   // row or column -> index within its component
  std::vector<int> comp_rows_, comp_cols_;
  std::vector<double> cost_;    // r x c, row major
  std::vector<int> cell_pair_;  // r x c, the pair of each cell or -1
  std::vector<double> u_, v_, min_to_;
  std::vector<int> match_of_col_, way_;
  std::vector<char> used_;
  std::vector<int> dense_matched_;
};

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_ASSIGNMENT_H
