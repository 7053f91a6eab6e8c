// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/adaptorsim/mountmodel.h"

#include <algorithm>
#include <string_view>

namespace voruna {

namespace {

constexpr std::string_view kLetters = "nswe";

double seconds(MountModel::Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

MountModel::MountModel(double guideRateArcsecPerSecond, Clock::time_point origin)
    : m_rate(guideRateArcsecPerSecond)
    , m_origin(origin)
    , m_last(origin)
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
    m_dec += decRate() * dt;
    m_last = now;
}

double MountModel::raRate() const
{
    return m_rate * ((m_moving[2] ? 1 : 0) - (m_moving[3] ? 1 : 0));
}

double MountModel::decRate() const
{
    return m_rate * ((m_moving[0] ? 1 : 0) - (m_moving[1] ? 1 : 0));
}

double MountModel::raAt(Clock::time_point now) const
{
    return m_ra + raRate() * seconds(std::max(now, m_last) - m_last);
}

double MountModel::decAt(Clock::time_point now) const
{
    return m_dec + decRate() * seconds(std::max(now, m_last) - m_last);
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
