// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/mountmodel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

namespace voruna {

namespace {

constexpr std::string_view kLetters = "nswe";

double seconds(MountModel::Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

MountSetup perfect(double rate)
{
    MountSetup setup;
    setup.guideRates = {rate, rate, rate, rate};
    return setup;
}

} // namespace

MountModel::MountModel(double guideRateArcsecPerSecond, Clock::time_point origin)
    : MountModel(perfect(guideRateArcsecPerSecond), origin)
{}

MountModel::MountModel(const MountSetup &setup, Clock::time_point origin)
    : m_setup(setup)
    , m_origin(origin)
    , m_last(origin)
    , m_decMotor(std::max(0.0, setup.decBacklash)) // engaged for a move north
{}

bool MountModel::start(char direction, Clock::time_point now)
{
    const std::size_t index = kLetters.find(direction);
    if (index == std::string_view::npos || m_moving[index])
        return false;
    advance(now);
    m_moving[index] = true;
    return true;
}

bool MountModel::stop(char direction, Clock::time_point now)
{
    const std::size_t index = kLetters.find(direction);
    if (index == std::string_view::npos || !m_moving[index])
        return false;
    advance(now);
    m_moving[index] = false;
    return true;
}

void MountModel::advance(Clock::time_point now)
{
    if (now <= m_last)
        return;
    const double dt = seconds(now - m_last);
    m_ra += raRate() * dt;
    m_decMotor += decRate() * dt;
    m_dec = decAxisFor(m_decMotor);
    m_last = now;
}

double MountModel::decAxisFor(double motor) const
{
    // Between two events the motor runs one way only, so the axis is pushed along by whichever
    // side of the gap the motor presses against, or stays.
    return std::clamp(m_dec, motor - std::max(0.0, m_setup.decBacklash), motor);
}

double MountModel::raRate() const
{
    const auto &r = m_setup.guideRates;
    return (m_moving[2] ? r[2] : 0.0) - (m_moving[3] ? r[3] : 0.0);
}

double MountModel::decRate() const
{
    const auto &r = m_setup.guideRates;
    return (m_moving[0] ? r[0] : 0.0) - (m_moving[1] ? r[1] : 0.0);
}

double MountModel::raAt(Clock::time_point now) const
{
    return m_ra + raRate() * seconds(std::max(now, m_last) - m_last);
}

double MountModel::decAt(Clock::time_point now) const
{
    return decAxisFor(m_decMotor + decRate() * seconds(std::max(now, m_last) - m_last));
}

double MountModel::periodicError(double t) const
{
    if (!(m_setup.pePeriod > 0.0))
        return 0.0;
    const double phase = 2.0 * std::numbers::pi * t / m_setup.pePeriod;
    return m_setup.peAmplitude * std::sin(phase) + m_setup.pe2Amplitude * std::sin(2.0 * phase);
}

SkyOffset MountModel::trackingErrorAt(Clock::time_point now) const
{
    const double t = secondsAt(now);
    return {raAt(now) + periodicError(t) + m_setup.driftRa * t, decAt(now) + m_setup.driftDec * t};
}

std::string MountModel::moving() const
{
    std::string letters;
    for (std::size_t i = 0; i < kLetters.size(); ++i) {
        if (m_moving[i])
            letters += kLetters[i];
    }
    return letters;
}

double MountModel::secondsAt(Clock::time_point now) const
{
    return seconds(std::max(now, m_origin) - m_origin);
}

} // namespace voruna
