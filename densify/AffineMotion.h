// Affine motion fitted to point steps: the map (x, y) -> (a0 x + a1 y + a2, a3 x + a4 y + a5)
// that carries a set of points of one frame closest, in the least-squares sense, to their
// positions in another frame. The dense regions use it for the motion of a region between two
// frames, the moving-object rule for the background's motion.
#pragma once

#include <vector>

// One point's step: from (x, y) to (nx, ny).
struct CPointStep {
  double x, y, nx, ny;
};

struct CAffineMotion {
  double a[6] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};

  // Where the map carries (x, y).
  void apply(double x, double y, double& aX, double& aY) const {
    aX = a[0] * x + a[1] * y + a[2];
    aY = a[3] * x + a[4] * y + a[5];
  }
  // Distance between the step's end and where the map carries its start.
  double miss(const CPointStep& s) const;
};

// Least-squares fit of aMotion to aSteps. False, leaving aMotion as it was, with fewer than
// three steps or with starts that lie on one line (no unique affine map).
bool fitAffineMotion(const std::vector<CPointStep>& aSteps, CAffineMotion& aMotion);
