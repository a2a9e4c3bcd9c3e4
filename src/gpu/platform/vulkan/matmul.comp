#version 450
#extension GL_EXT_control_flow_attributes : require
// result = left × right over one window of each matrix, float32 in, out and accumulated.
//
// The classic tiling of a matrix product on a GPU. A workgroup of TX × TY invocations computes a
// tile of (TY · TM) × (TX · TN) results; each invocation keeps its own TM × TN block of sums in
// registers. The interior is walked STEP elements at a time: a STEP-wide slice of the tile's
// rows of the left matrix and a STEP-deep slice of its columns of the right matrix are staged in
// shared memory (coalesced loads, neighbouring invocations reading neighbouring elements), and
// every element staged is then used TX · TN (left) or TY · TM (right) times from there. What
// each parameter trades, set per device when the pipeline is made (specialization constants):
//
// - TM × TN, the block an invocation owns: each pair of values it reads from shared memory
//   feeds TM · TN multiply-adds, but the block costs TM · TN registers (plus TM + TN) that other
//   waves could have used to hide memory latency.
// - TX × TY, the invocations of a workgroup: together with the block they set the tile, and the
//   tile sets the traffic to device memory: (TY·TM + TX·TN) · STEP elements read per
//   2 · TY·TM · TX·TN · STEP operations, so a 128 × 128 tile does 32 operations per byte read,
//   a 64 × 64 tile 16. Larger workgroups take more of a compute unit at once, so fewer fit.
// - STEP, the depth of each slice: deeper slices mean fewer barriers per operation but more
//   shared memory, (TY·TM + TX·TN) · STEP · 4 bytes, which also limits how many workgroups a
//   compute unit holds at a time.
//
// Staged, every load and store is bounds-checked; direct (below), edges are clamped instead. Any
// size works either way, not only multiples of the tile.
// Sums are plain multiply-adds: some CPU drivers compute fma() lane by lane in software, several
// times slower.

layout(local_size_x_id = 0, local_size_y_id = 1) in;

layout(set = 0, binding = 0, std430) readonly buffer Left {
  float a[];
};
layout(set = 0, binding = 1, std430) readonly buffer Right {
  float b[];
};
layout(set = 0, binding = 2, std430) buffer Result {
  float c[];
};

layout(push_constant) uniform Shape {
  uint rows;        // of the result window
  uint columns;     // of the result window
  uint interior;    // of this window of the product
  uint leftStride;  // row strides, in elements
  uint rightStride;
  uint resultStride;
  uint leftOffset;  // where each window starts in its binding, in elements
  uint rightOffset;
  uint resultOffset;
  uint accumulate;  // 0: result = left × right; 1: result += left × right
}
shape;

layout(constant_id = 0) const uint TX = 16;   // invocations across the tile
layout(constant_id = 1) const uint TY = 16;   // invocations down the tile
layout(constant_id = 2) const uint TM = 8;    // rows an invocation owns
layout(constant_id = 3) const uint TN = 8;    // columns an invocation owns
layout(constant_id = 4) const uint STEP = 8;  // interior elements staged at a time
// A CPU device runs a workgroup's invocations as the lanes of its vector registers and its caches
// already keep what is read again: it reads the operands straight from memory, with no shared
// memory and no barrier (a barrier there switches between lane groups, dearly). Such a driver
// (Mesa's lavapipe) fetches every element lane by lane, vector loads included, so what counts
// there is multiply-adds per element loaded, TM · TN / (TM + TN): the largest block that fits.
layout(constant_id = 5) const bool STAGED = true;

const uint INVOCATIONS = TX * TY;
const uint TILE_ROWS = STAGED ? TY * TM : TM;
const uint TILE_COLUMNS = STAGED ? TX * TN : INVOCATIONS * TN;

// An invocation's rows are TY apart and its columns TX apart: neighbouring invocations read and
// write neighbouring elements, and shared memory serves a wave without bank conflicts.
shared float leftSlice[STAGED ? STEP : 1][STAGED ? TILE_ROWS : 1];  // a step's column of rows
shared float rightSlice[STAGED ? STEP : 1][STAGED ? TILE_COLUMNS : 1];

// Stages a STEP-wide slice of both operands, from interior element k0 on; zeros outside.
void stage(uint k0, uint rowBase, uint columnBase, uint lane) {
  for (uint e = lane; e < TILE_ROWS * STEP; e += INVOCATIONS) {
    const uint r = e / STEP, k = e % STEP;
    const uint row = rowBase + r, inner = k0 + k;
    leftSlice[k][r] = (row < shape.rows && inner < shape.interior)
                          ? a[shape.leftOffset + row * shape.leftStride + inner]
                          : 0.0;
  }
  for (uint e = lane; e < STEP * TILE_COLUMNS; e += INVOCATIONS) {
    const uint k = e / TILE_COLUMNS, col = e % TILE_COLUMNS;
    const uint column = columnBase + col, inner = k0 + k;
    rightSlice[k][col] = (column < shape.columns && inner < shape.interior)
                             ? b[shape.rightOffset + inner * shape.rightStride + column]
                             : 0.0;
  }
}

float sum[TM][TN];

void accumulate(float left[TM], float right[TN]) {
  [[unroll]] for (uint i = 0; i < TM; ++i) {
    [[unroll]] for (uint j = 0; j < TN; ++j) {
      sum[i][j] += left[i] * right[j];
    }
  }
}

void stagedProduct(uint rowBase, uint columnBase, uint tx, uint ty) {
  const uint lane = ty * TX + tx;
  for (uint k0 = 0; k0 < shape.interior; k0 += STEP) {
    stage(k0, rowBase, columnBase, lane);
    barrier();
    [[unroll]] for (uint k = 0; k < STEP; ++k) {
      float left[TM], right[TN];
      [[unroll]] for (uint i = 0; i < TM; ++i) left[i] = leftSlice[k][ty + TY * i];
      [[unroll]] for (uint j = 0; j < TN; ++j) right[j] = rightSlice[k][tx + TX * j];
      accumulate(left, right);
    }
    barrier();
  }
}

// Every invocation of the workgroup works the same TM rows, each its own TN columns, INVOCATIONS
// apart: the left matrix's elements are the same for the whole workgroup (a CPU driver loads them
// once and broadcasts them), the right matrix's are neighbours across the lanes. A row or column
// past the window's edge reads the window's last one instead, unconditionally (a branch per
// element costs a CPU far more than the load), and its sums are never written.
void directProduct(uint rowBase, uint columnBase, uint lane) {
  uint leftAt[TM], rightAt[TN];
  [[unroll]] for (uint i = 0; i < TM; ++i) {
    leftAt[i] = shape.leftOffset + min(rowBase + i, shape.rows - 1) * shape.leftStride;
  }
  [[unroll]] for (uint j = 0; j < TN; ++j) {
    rightAt[j] = shape.rightOffset + min(columnBase + lane + INVOCATIONS * j, shape.columns - 1);
  }
  for (uint k = 0; k < shape.interior; ++k) {
    float left[TM], right[TN];
    [[unroll]] for (uint i = 0; i < TM; ++i) left[i] = a[leftAt[i]++];
    [[unroll]] for (uint j = 0; j < TN; ++j) {
      right[j] = b[rightAt[j]];
      rightAt[j] += shape.rightStride;
    }
    accumulate(left, right);
  }
}

void main() {
  const uint tx = gl_LocalInvocationID.x, ty = gl_LocalInvocationID.y;
  const uint lane = gl_LocalInvocationIndex;
  const uint rowBase = gl_WorkGroupID.y * TILE_ROWS;
  const uint columnBase = gl_WorkGroupID.x * TILE_COLUMNS;
  [[unroll]] for (uint i = 0; i < TM; ++i) {
    [[unroll]] for (uint j = 0; j < TN; ++j) {
      sum[i][j] = 0.0;
    }
  }
  if (STAGED)
    stagedProduct(rowBase, columnBase, tx, ty);
  else
    directProduct(rowBase, columnBase, lane);
  [[unroll]] for (uint i = 0; i < TM; ++i) {
    const uint row = rowBase + (STAGED ? ty + TY * i : i);
    if (row >= shape.rows) continue;
    [[unroll]] for (uint j = 0; j < TN; ++j) {
      const uint column = columnBase + (STAGED ? tx + TX * j : lane + INVOCATIONS * j);
      if (column >= shape.columns) continue;
      const uint at = shape.resultOffset + row * shape.resultStride + column;
      c[at] = shape.accumulate != 0 ? c[at] + sum[i][j] : sum[i][j];
    }
  }
}
