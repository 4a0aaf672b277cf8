#include "convert/design.h"

#include <climits>
#include <cstdlib>
#include <utility>

#include "base/limits.h"

namespace quorvale::convert {

int Design::total_occasions() const {
  int n = 0;
  for (int ip = 1; ip <= periods(); ++ip) n += occasions(ip);
  return n;
}

std::string Design::text() const {
  std::string s;
  for (int ip = 1; ip <= periods(); ++ip) {
    if (ip != 1) s += ',';
    s += std::to_string(occasions(ip));
  }
  return s;
}

std::vector<int> Design::occasion_list() const {
  std::vector<int> kk;
  for (int ip = 1; ip <= periods(); ++ip) kk.push_back(occasions(ip));
  return kk;
}

namespace {

/// Most secondary occasions of one period: its 2^kk cells must fit a cohort.
constexpr int max_occasions() {
  int k = 0;
  while ((2 << k) <= MXCLAS) ++k;
  return k;
}

/// A fault of the design named on the command line.
[[noreturn]] void design_fault(const std::string& message) { throw ConvertError(0, "--secondary: " + message); }

}  // namespace

Design parse_design(std::string_view list) {
  std::vector<int> kk;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string_view::npos) end = list.size();
    const std::string item(list.substr(start, end - start));
    const int period = static_cast<int>(kk.size()) + 1;
    bool digits = !item.empty() && item.size() <= 6;
    for (char ch : item) digits = digits && ch >= '0' && ch <= '9';
    if (!digits) {
      design_fault("\"" + item + "\" (period " + std::to_string(period) +
                   ") is not a number of occasions; write the occasions of every primary period, such as 2,2,4,5,2");
    }
    const int k = std::atoi(item.c_str());
    if (k < 1) design_fault("period " + std::to_string(period) + " has no secondary occasion");
    if (k > max_occasions()) {
      design_fault("period " + std::to_string(period) + " has " + std::to_string(k) +
                   " secondary occasions; at most " + std::to_string(max_occasions()) +
                   " fit, because the 2^kk capture histories of a period must fit the cells of a cohort (MXCLAS = " +
                   std::to_string(MXCLAS) + ")");
    }
    kk.push_back(k);
    if (static_cast<int>(kk.size()) > MAXPRM) {
      design_fault("more than " + std::to_string(MAXPRM) + " primary periods (MAXPRM = " + std::to_string(MAXPRM) + ")");
    }
    start = end + 1;
  }
  const Design d(kk);
  const int M = d.periods();
  if (M < 2) design_fault("a robust design needs at least 2 primary periods");
  if (M > MXCLAS) {
    design_fault(std::to_string(M) + " primary periods; the cohort released after period 1 has one cell per later "
                 "period and a cohort holds at most MXCLAS = " + std::to_string(MXCLAS) + " cells");
  }
  if (d.cohorts() > MAXCHT) {
    design_fault(std::to_string(M) + " primary periods need " + std::to_string(d.cohorts()) +
                 " cohorts, more than the program's MAXCHT = " + std::to_string(MAXCHT));
  }
  if (d.npar() > MAXPAR) {
    design_fault("the model needs NPAR = " + std::to_string(d.npar()) + " parameters, more than the program's MAXPAR = " +
                 std::to_string(MAXPAR));
  }
  return d;
}

Design with_groups(const Design& design, std::vector<std::string> names) {
  const Design d(design.occasion_list(), std::move(names));
  const std::string groups = std::to_string(d.groups()) + " groups of " + design.text();
  if (d.cohorts() > MAXCHT) {
    throw ConvertError(0, groups + " need " + std::to_string(d.cohorts()) + " cohorts, more than the program's "
                              "MAXCHT = " + std::to_string(MAXCHT));
  }
  if (d.npar() > MAXPAR) {
    throw ConvertError(0, groups + " need NPAR = " + std::to_string(d.npar()) + " parameters, more than the "
                              "program's MAXPAR = " + std::to_string(MAXPAR));
  }
  return d;
}

std::vector<std::string> default_group_names(int groups) {
  std::vector<std::string> names;
  for (int g = 1; g <= groups; ++g) {
    std::string name = "G";
    name += std::to_string(g);
    names.push_back(std::move(name));
  }
  return names;
}

int closed_cell(std::string_view occasions) {
  int h = 0;
  for (char ch : occasions) h = 2 * h + (ch == '1' ? 0 : 1);
  return h + 1;
}

std::vector<Cohort> tabulate(const Design& design, const std::vector<History>& histories) {
  const int M = design.periods();
  const int G = design.groups();
  std::vector<Cohort> cohorts;
  for (int g = 1; g <= G; ++g) {
    for (int ip = 1; ip <= M; ++ip) {
      for (int jp = 1; jp <= ip; ++jp) {
        cohorts.push_back(Cohort{g, false, ip, jp, 0,
                                 std::vector<long long>(static_cast<std::size_t>(design.closed_cells(ip) - 1), 0)});
      }
    }
    for (int i = 1; i <= M - 1; ++i) {
      cohorts.push_back(
          Cohort{g, true, i, 0, 0, std::vector<long long>(static_cast<std::size_t>(design.open_cells(i) - 1), 0)});
    }
  }
  auto closed = [&](int ip, int jp, int g) -> Cohort& {
    return cohorts[static_cast<std::size_t>(design.closed_cohort(ip, jp, g) - 1)];
  };
  auto open = [&](int i, int g) -> Cohort& { return cohorts[static_cast<std::size_t>(design.open_cohort(i, g) - 1)]; };

  const int length = design.total_occasions();
  long long animals = 0;
  for (const History& h : histories) {
    if (static_cast<int>(h.occasions.size()) != length) {
      throw ConvertError(h.line, "history \"" + h.occasions + "\" has " + std::to_string(h.occasions.size()) +
                                     " occasions, but --secondary " + design.text() + " describes " +
                                     std::to_string(length));
    }
    if (h.frequencies.size() != static_cast<std::size_t>(G)) {
      const std::size_t n = h.frequencies.size();
      throw ConvertError(h.line, "history \"" + h.occasions + "\" has " + std::to_string(n) +
                                     (n == 1 ? " frequency" : " frequencies") + " for " + std::to_string(G) +
                                     " groups");
    }
    for (long long frequency : h.frequencies) {
      animals += std::llabs(frequency);
      if (animals > INT_MAX) {
        throw ConvertError(h.line, "more than " + std::to_string(INT_MAX) +
                                       " animals in all: cohort sizes must fit the program's 32-bit counts");
      }
    }
    // Periods with a capture, and the cell of each.
    std::vector<std::pair<int, int>> caught;  // period, cell
    for (int ip = 1, at = 0; ip <= M; at += design.occasions(ip), ++ip) {
      const std::string_view part = std::string_view(h.occasions).substr(static_cast<std::size_t>(at),
                                                                         static_cast<std::size_t>(design.occasions(ip)));
      if (part.find('1') != std::string_view::npos) caught.emplace_back(ip, closed_cell(part));
    }
    if (caught.empty()) throw ConvertError(h.line, "history \"" + h.occasions + "\" has no capture");
    for (int g = 1; g <= G; ++g) {
      const long long frequency = h.frequencies[static_cast<std::size_t>(g - 1)];
      const long long n = std::llabs(frequency);
      if (n == 0) continue;
      int previous = 0;  // last period with a capture so far
      for (const auto& [ip, cell] : caught) {
        Cohort& c = closed(ip, previous + 1, g);
        c.cells[static_cast<std::size_t>(cell - 1)] += n;
        c.size += n;
        if (previous > 0) open(previous, g).cells[static_cast<std::size_t>(ip - previous - 1)] += n;
        if (previous > 0) open(previous, g).size += n;  // released after `previous`, seen again
        previous = ip;
      }
      // Released after the last capture too, unless lost on capture (negative
      // frequency) or caught last in the last period.
      if (previous < M && frequency > 0) open(previous, g).size += n;
    }
  }
  return cohorts;
}

}  // namespace quorvale::convert
