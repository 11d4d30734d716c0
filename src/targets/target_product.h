#pragma once

namespace zorv {

// Product index in the order of the product radio buttons on every page.
enum TargetProduct : int { Obrin = 0, Tqr2400 = 1, Ika = 2, Veskar = 3 };

inline constexpr int kProductCount = 4;
inline constexpr bool isKnownProduct(int product) { return product >= 0 && product < kProductCount; }

}  // namespace zorv
