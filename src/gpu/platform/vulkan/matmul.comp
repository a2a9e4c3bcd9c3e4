#version 450
#extension GL_EXT_control_flow_attributes : require
// result = left × right over one window of each matrix, float32 in, out and accumulated.
//
// A workgroup of 64 invocations computes a tile of ROWS × (64 · COLUMNS) results. The tile's
// rows are the same for every invocation, so the left matrix's elements are shared by all of
// them: a block of ROWS × STEP is staged in shared memory (read with coalesced loads) and then
// read at the same address by every invocation. Each invocation owns COLUMNS columns, 64 apart,
// so neighbouring invocations read neighbouring elements of the right matrix; it keeps its
// ROWS × COLUMNS sums in registers and uses each element it loads ROWS times. ROWS and COLUMNS
// are set per device when the pipeline is made. Every load and store is bounds-checked, so any
// size works, not only multiples of the tile. Sums are plain multiply-adds: some CPU drivers
// compute fma() lane by lane in software, several times slower.

layout(local_size_x = 64) in;

layout(set = 0, binding = 0, std430) readonly buffer Left { float a[]; };
layout(set = 0, binding = 1, std430) readonly buffer Right { float b[]; };
layout(set = 0, binding = 2, std430) buffer Result { float c[]; };

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
} shape;

const uint WIDTH = 64;                           // invocations
layout(constant_id = 0) const uint ROWS = 16;     // of the tile
layout(constant_id = 1) const uint COLUMNS = 16;  // per invocation
const uint STEP = 16;                             // interior elements staged at a time

shared float leftTile[ROWS][STEP];

void main() {
  const uint lane = gl_LocalInvocationID.x;
  const uint rowBase = gl_WorkGroupID.y * ROWS;
  const uint columnBase = gl_WorkGroupID.x * WIDTH * COLUMNS + lane;
  float sum[ROWS][COLUMNS];
  [[unroll]] for (uint i = 0; i < ROWS; ++i)
    [[unroll]] for (uint j = 0; j < COLUMNS; ++j) sum[i][j] = 0.0;
  bool inside[COLUMNS];
  [[unroll]] for (uint j = 0; j < COLUMNS; ++j) inside[j] = columnBase + WIDTH * j < shape.columns;

  for (uint k0 = 0; k0 < shape.interior; k0 += STEP) {
    for (uint e = lane; e < ROWS * STEP; e += WIDTH) {
      const uint r = e / STEP, k = e % STEP;
      const uint row = rowBase + r, inner = k0 + k;
      leftTile[r][k] = (row < shape.rows && inner < shape.interior)
                           ? a[shape.leftOffset + row * shape.leftStride + inner]
                           : 0.0;
    }
    barrier();
    const uint steps = min(STEP, shape.interior - k0);
    for (uint k = 0; k < steps; ++k) {
      const uint at = shape.rightOffset + (k0 + k) * shape.rightStride + columnBase;
      float right[COLUMNS];
      [[unroll]] for (uint j = 0; j < COLUMNS; ++j) right[j] = inside[j] ? b[at + WIDTH * j] : 0.0;
      [[unroll]] for (uint i = 0; i < ROWS; ++i) {
        const float left = leftTile[i][k];
        [[unroll]] for (uint j = 0; j < COLUMNS; ++j) sum[i][j] += left * right[j];
      }
    }
    barrier();
  }

  [[unroll]] for (uint i = 0; i < ROWS; ++i) {
    const uint row = rowBase + i;
    if (row >= shape.rows) continue;
    [[unroll]] for (uint j = 0; j < COLUMNS; ++j) {
      if (!inside[j]) continue;
      const uint at = shape.resultOffset + row * shape.resultStride + columnBase + WIDTH * j;
      c[at] = shape.accumulate != 0 ? c[at] + sum[i][j] : sum[i][j];
    }
  }
}
