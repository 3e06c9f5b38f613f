#include "workstation/common/ui/widget_control_panel.h"

#include <QButtonGroup>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace velmora {
namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QString q(ControlName name) {
  return QString::fromUtf8(name.view().data(), static_cast<qsizetype>(name.view().size()));
}

}  // namespace

QWidget* WidgetControlPanel::widget(ControlName name) const {
  if (root_->objectName() == q(name)) return root_;
  return root_->findChild<QWidget*>(q(name));
}

bool WidgetControlPanel::checked(ControlName name) const {
  auto* b = qobject_cast<QAbstractButton*>(widget(name));
  return b && b->isChecked();
}

void WidgetControlPanel::set_checked(ControlName name, bool on) {
  auto* b = qobject_cast<QAbstractButton*>(widget(name));
  if (!b || b->isChecked() == on) return;
  if (!on && b->group() && b->group()->exclusive()) {
    // An exclusive group never lets its checked button go by itself.
    b->group()->setExclusive(false);
    b->setChecked(false);
    b->group()->setExclusive(true);
    return;
  }
  if (!on && b->autoExclusive()) {
    b->setAutoExclusive(false);
    b->setChecked(false);
    b->setAutoExclusive(true);
    return;
  }
  b->setChecked(on);
}

std::string WidgetControlPanel::text(ControlName name) const {
  QWidget* w = widget(name);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
  return std::string();
}

void WidgetControlPanel::set_text(ControlName name, const std::string& text) {
  QWidget* w = widget(name);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(q(text));
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    if (c->isEditable()) {
      c->setEditText(q(text));
    } else {
      c->setCurrentIndex(c->findText(q(text)));
    }
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(q(text));
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(q(text));
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(q(text));
  }
}

bool WidgetControlPanel::visible(ControlName name) const {
  QWidget* w = widget(name);
  return w && !w->isHidden();
}

void WidgetControlPanel::set_visible(ControlName name, bool on) {
  if (QWidget* w = widget(name)) w->setVisible(on);
}

void WidgetControlPanel::set_enabled(ControlName name, bool on) {
  if (QWidget* w = widget(name)) w->setEnabled(on);
}

void WidgetControlPanel::set_font_size(ControlName name, int points) {
  QWidget* w = widget(name);
  if (!w || points <= 0) return;
  QFont f = w->font();
  f.setPointSize(points);
  w->setFont(f);
}

void WidgetControlPanel::clear_items(ControlName name) {
  if (auto* c = qobject_cast<QComboBox*>(widget(name))) c->clear();
}

void WidgetControlPanel::add_item(ControlName name, const std::string& item) {
  auto* c = qobject_cast<QComboBox*>(widget(name));
  if (!c) return;
  const int before = c->currentIndex();
  c->addItem(q(item));
  if (before < 0) c->setCurrentIndex(-1);
}

std::vector<std::string> WidgetControlPanel::items(ControlName name) const {
  std::vector<std::string> out;
  if (auto* c = qobject_cast<QComboBox*>(widget(name))) {
    for (int i = 0; i < c->count(); ++i) out.push_back(c->itemText(i).toStdString());
  }
  return out;
}

void WidgetControlPanel::select_item(ControlName name, int index) {
  auto* c = qobject_cast<QComboBox*>(widget(name));
  if (c && index >= 0 && index < c->count()) c->setCurrentIndex(index);
}

void WidgetControlPanel::set_progress(double fraction) {
  QWidget* outer = widget("ProgressBar1");
  QWidget* bar = widget("ProgressBar2");
  if (!outer || !bar) return;
  const QRect inner = outer->contentsRect();
  const double share = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
  bar->setGeometry(inner.x(), inner.y(), static_cast<int>(std::lround(share * inner.width())),
                   inner.height());
}

void WidgetControlPanel::set_title_colour(int red, int green, int blue) {
  QWidget* title = widget("lblTitle");
  if (!title) return;
  QPalette pal = title->palette();
  pal.setColor(QPalette::WindowText, QColor(std::clamp(red, 0, 255), std::clamp(green, 0, 255),
                                            std::clamp(blue, 0, 255)));
  title->setPalette(pal);
}

void WidgetControlPanel::process_events() {
  QCoreApplication::processEvents();
}

}  // namespace velmora
