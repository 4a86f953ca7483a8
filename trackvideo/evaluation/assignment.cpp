// trackvideo/evaluation/assignment.cpp - the optimal matching (see assignment.h).
#include "trackvideo/evaluation/assignment.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace trackvideo {
namespace evaluation {

int max_matching::find(int x) {
  while (parent_[x] != x) {
    parent_[x] = parent_[parent_[x]];
    x = parent_[x];
  }
  return x;
}

void max_matching::solve(const std::vector<scored_pair>& pairs, int rows, int cols,
                         std::vector<int>& matched) {
  matched.clear();
  const int n = static_cast<int>(pairs.size());
  if (n == 0) return;
  parent_.resize(static_cast<std::size_t>(rows + cols));
  for (int i = 0; i < rows + cols; ++i) parent_[i] = i;
  for (const scored_pair& p : pairs) {
    assert(p.row >= 0 && p.row < rows && p.col >= 0 && p.col < cols && p.score > 0);
    const int a = find(p.row), b = find(rows + p.col);
    if (a != b) parent_[std::max(a, b)] = std::min(a, b);
  }
  // Pairs grouped by their component's root (a counting sort), in list order
  // within one.
  root_.resize(static_cast<std::size_t>(n));
  start_.assign(static_cast<std::size_t>(rows) + 1, 0);
  for (int i = 0; i < n; ++i) {
    root_[i] = find(pairs[i].row);  // a row: roots are the smallest of their set
    ++start_[root_[i] + 1];
  }
  for (int r = 0; r < rows; ++r) start_[r + 1] += start_[r];
  order_.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) order_[start_[root_[i]]++] = i;
  local_.assign(static_cast<std::size_t>(rows + cols), -1);

  for (int begin = 0; begin < n;) {
    int end = begin + 1;
    while (end < n && root_[order_[end]] == root_[order_[begin]]) ++end;
    if (end - begin == 1) {  // one pair: taken as it is
      matched.push_back(order_[begin]);
      begin = end;
      continue;
    }
    comp_rows_.clear();
    comp_cols_.clear();
    for (int k = begin; k < end; ++k) {
      const scored_pair& p = pairs[order_[k]];
      if (local_[p.row] < 0) {
        local_[p.row] = static_cast<int>(comp_rows_.size());
        comp_rows_.push_back(p.row);
      }
      if (local_[rows + p.col] < 0) {
        local_[rows + p.col] = static_cast<int>(comp_cols_.size());
        comp_cols_.push_back(p.col);
      }
    }
    const int r = static_cast<int>(comp_rows_.size()), c = static_cast<int>(comp_cols_.size());
    // The dense problem has min(r, c) rows: rows are the smaller side.
    const bool transposed = r > c;
    const int dr = transposed ? c : r, dc = transposed ? r : c;
    cost_.assign(static_cast<std::size_t>(dr) * dc, 0.0);
    cell_pair_.assign(static_cast<std::size_t>(dr) * dc, -1);
    for (int k = begin; k < end; ++k) {
      const scored_pair& p = pairs[order_[k]];
      int i = local_[p.row], j = local_[rows + p.col];
      if (transposed) std::swap(i, j);
      cost_[static_cast<std::size_t>(i) * dc + j] = -p.score;
      cell_pair_[static_cast<std::size_t>(i) * dc + j] = order_[k];
    }
    solve_dense(dr, dc);
    for (int pair : dense_matched_) matched.push_back(pair);
    for (int row : comp_rows_) local_[row] = -1;
    for (int col : comp_cols_) local_[rows + col] = -1;
    begin = end;
  }
  std::sort(matched.begin(), matched.end(),
            [&pairs](int a, int b) { return pairs[a].row < pairs[b].row; });
}

// Shortest augmenting paths with potentials on cost_ (r <= c), rows and
// columns counted from 1 with column 0 the path's start. Sets dense_matched_
// to the pairs of the assignment's cells that hold one.
void max_matching::solve_dense(int r, int c) {
  const double inf = std::numeric_limits<double>::infinity();
  u_.assign(static_cast<std::size_t>(r + 1), 0.0);
  v_.assign(static_cast<std::size_t>(c + 1), 0.0);
  match_of_col_.assign(static_cast<std::size_t>(c + 1), 0);
  way_.assign(static_cast<std::size_t>(c + 1), 0);
  for (int i = 1; i <= r; ++i) {
    match_of_col_[0] = i;
    int j0 = 0;
    min_to_.assign(static_cast<std::size_t>(c + 1), inf);
    used_.assign(static_cast<std::size_t>(c + 1), 0);
    do {
      used_[j0] = 1;
      const int i0 = match_of_col_[j0];
      double delta = inf;
      int j1 = 0;
      const double* row = &cost_[static_cast<std::size_t>(i0 - 1) * c];
      for (int j = 1; j <= c; ++j) {
        if (used_[j]) continue;
        const double cur = row[j - 1] - u_[i0] - v_[j];
        if (cur < min_to_[j]) {
          min_to_[j] = cur;
          way_[j] = j0;
        }
        if (min_to_[j] < delta) {
          delta = min_to_[j];
          j1 = j;
        }
      }
      for (int j = 0; j <= c; ++j) {
        if (used_[j]) {
          u_[match_of_col_[j]] += delta;
          v_[j] -= delta;
        } else {
          min_to_[j] -= delta;
        }
      }
      j0 = j1;
    } while (match_of_col_[j0] != 0);
    do {
      const int j1 = way_[j0];
      match_of_col_[j0] = match_of_col_[j1];
      j0 = j1;
    } while (j0 != 0);
  }
  dense_matched_.clear();
  for (int j = 1; j <= c; ++j) {
    const int i = match_of_col_[j];
    if (i == 0) continue;
    const int pair = cell_pair_[static_cast<std::size_t>(i - 1) * c + (j - 1)];
    if (pair >= 0) dense_matched_.push_back(pair);
  }
}

}  // namespace evaluation
}  // namespace trackvideo
