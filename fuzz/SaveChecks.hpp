#pragma once

// The promises of the save reader, however it is reached.

#include <set>
#include <string>

#include "FuzzSupport.hpp"
#include "world/Game.hpp"
#include "world/SaveFile.hpp"

namespace zarn::fuzz {

// Loads into the game through load(game, message). Refused: a message, and the game as it was.
// Loaded: the game saves again, and its save loads back to the same game and the same text.
template <typename Load> void checkLoad(Game& game, Load load) {
    const std::uint64_t before = hashGame(game);
    std::string message;
    if (!load(game, message)) {
        check(!message.empty(), "a refused save gives a message");
        check(hashGame(game) == before, "a refused save leaves the game as it was:", message);
        return;
    }
    std::string text;
    check(composeSave(game, text, message), "a game that loads saves again:", message);
    Game again = game;
    check(readSave(again, text, message, ""), "its save loads:", message);
    check(test::hashSavedGame(again) == test::hashSavedGame(game), "its save brings it back");
    std::string textAgain;
    check(composeSave(again, textAgain, message) && textAgain == text, "its save is written the same again");
}

} // namespace zarn::fuzz
