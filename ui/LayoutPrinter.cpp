#include "LayoutPrinter.h"

#include "LayoutView.h"

namespace kestrin {

namespace {

class StreamTarget : public LayoutViewTarget {
 public:
  StreamTarget(std::ostream& out, std::ostream& errors) : m_out(out), m_errors(errors) {}

  void clearRows() override {}
  void setMenuState(const StyleMenuState&) override {}
  void setStatusText(const std::string& text) override { m_out << text << '\n'; }
  void addRow(const ViewRow& row) override {
    m_out << row.number;
    for (const std::string& cell : row.cells) m_out << '\t' << cell;
    m_out << '\n';
  }
  void showError(const std::string& message) override {
    m_errors << message << '\n';
    m_failed = true;
  }
  bool failed() const { return m_failed; }

 private:
  std::ostream& m_out;
  std::ostream& m_errors;
  bool m_failed = false;
};

}  // namespace

bool PrintLayoutView(const std::string& diskPath, std::ostream& out, std::ostream& errors) {
  LayoutViewState state;
  StreamTarget target(out, errors);
  RefreshLayoutView(diskPath, state, target);
  return !target.failed();
}

}  // namespace kestrin
