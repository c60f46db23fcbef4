#include "similar/weights.h"

namespace toka {

WeightTable BuildWeights() {
    WeightTable weights{};
    for (int n = 1; n <= 255; ++n) {
        Real48 sum;
        for (int c = 1; c <= n; ++c) {
            const long double quotient = static_cast<long double>(n - c + 1) / static_cast<long double>(c);
            sum = Real48::fromExtended(sum.value() + quotient);
        }
        weights[static_cast<std::size_t>(n)] = sum;
    }
    return weights;
}

} // namespace toka
