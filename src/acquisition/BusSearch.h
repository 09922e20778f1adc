#pragma once

#include <QString>

#include <optional>

// The bus search of the acquisition window without its widgets: it probes
// the addresses 1 to 255 in turn, one per tick, and ends after 255.
class BusSearch {
public:
    static constexpr int kFirstAddress = 1;
    static constexpr int kLastAddress = 255;

    // The address probed next (the window's poll cursor while it searches).
    int address = 0;

    void start() { address = kFirstAddress; }

    // The address to probe in this tick, and whether it is the last one. The
    // cursor moves on to the next address.
    struct Probe {
        quint8 address = 0;
        bool last = false;
    };
    Probe next();

    // The caption of 搜索模块 while it searches: "地址：N", N the address just probed.
    static QString caption(int address);
    // The question put for a module that answered.
    static QString question(quint8 address, const QString &model);
};

// A bus address typed into a box: a number rounded to a whole one (halves to
// even) from 0 to 255, blanks around it allowed.
std::optional<quint8> parseBusAddress(const QString &text);
