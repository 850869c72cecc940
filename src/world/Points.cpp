#include <algorithm>
#include <array>

#include "world/Game.hpp"

namespace zarn {

namespace {

constexpr double comboStep = 0.07;
constexpr double comboCap = 3.0;
constexpr double replenishHealth = 40.0;
constexpr double replenishArmour = 50.0;

} // namespace

void Game::reward(double gain) {
    if (!(gain > 0.0)) {
        return;
    }
    double paid = gain;
    if (time - lastRewardTime < comboWindow) {
        combo = std::min(combo + comboStep, comboCap);
        paid = gain * combo;
    } else {
        combo = 1.0;
    }
    lastGain = paid;
    lastRewardTime = time;
    points += paid;
    totalPoints += paid;
}

void Game::upgrade() {
    // Points needed to reach levels 1, 2, 3 and 4.
    static constexpr std::array<double, maxLevel> costs{500.0, 1400.0, 3400.0, 8000.0};
    if (level >= maxLevel) {
        showMessage("已达到最高火力 / 四级");
        return;
    }
    const double cost = costs[static_cast<std::size_t>(std::max(level, 0))];
    if (cost > points) {
        showMessage("贡献点不足");
        return;
    }
    ++level;
    points -= cost;
    health = maxHealth();
    armour = maxHealth();
    replenish();
    showMessage("火力升级成功 / 护甲与弹药已恢复");
}

void Game::replenish() {
    // Every second level adds one more reserve unit.
    const std::int32_t units = level / 2 + 1;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i].reserve = units * weapons[i].reserve;
    }
    health = std::min(health + replenishHealth, maxHealth());
    armour = std::min(armour + replenishArmour, maxHealth());
    showMessage("已获得补给");
}

} // namespace zarn
