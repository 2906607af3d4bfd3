#include "formula/expr.h"

namespace cmx::formula {

std::string_view table_band_text(TableBand band) {
  switch (band) {
    case TableBand::All: return "#All";
    case TableBand::Headers: return "#Headers";
    case TableBand::Data: return "#Data";
    case TableBand::Totals: return "#Totals";
    case TableBand::ThisRow: return "#This Row";
  }
  return "#All";
}

std::string_view binary_op_text(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add: return "+";
    case BinaryOp::Sub: return "-";
    case BinaryOp::Mul: return "*";
    case BinaryOp::Div: return "/";
    case BinaryOp::Pow: return "^";
    case BinaryOp::Concat: return "&";
    case BinaryOp::Eq: return "=";
    case BinaryOp::Ne: return "<>";
    case BinaryOp::Lt: return "<";
    case BinaryOp::Le: return "<=";
    case BinaryOp::Gt: return ">";
    case BinaryOp::Ge: return ">=";
  }
  return "+";
}

bool same_tree(const ExprPtr& a, const ExprPtr& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return *a == *b;
}

namespace {
bool same_trees(const std::vector<ExprPtr>& a, const std::vector<ExprPtr>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!same_tree(a[i], b[i])) return false;
  }
  return true;
}
}  // namespace

namespace node {
bool operator==(const Array& a, const Array& b) {
  return a.columns == b.columns && same_trees(a.elements, b.elements);
}
bool operator==(const Unary& a, const Unary& b) {
  return a.plus == b.plus && same_tree(a.operand, b.operand);
}
bool operator==(const Binary& a, const Binary& b) {
  return a.op == b.op && same_tree(a.left, b.left) && same_tree(a.right, b.right);
}
bool operator==(const Percent& a, const Percent& b) { return same_tree(a.operand, b.operand); }
bool operator==(const RangeOp& a, const RangeOp& b) {
  return same_tree(a.left, b.left) && same_tree(a.right, b.right);
}
bool operator==(const Call& a, const Call& b) {
  return a.name == b.name && a.id == b.id && same_trees(a.args, b.args);
}
}  // namespace node

}  // namespace cmx::formula
