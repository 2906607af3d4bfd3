#include "formula/parser.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "formula/lexer.h"

namespace cmx::formula {
namespace {

struct Parsed {
  ExprPtr node;
  uint32_t height = 1;
};

using ParseResult = Result<Parsed, FormulaError>;

struct BindingPower {
  BinaryOp op;
  uint8_t left;
  uint8_t right;
};

std::optional<BindingPower> infix_power(TokenKind kind) {
  switch (kind) {
    case TokenKind::Eq: return BindingPower{BinaryOp::Eq, 1, 2};
    case TokenKind::Ne: return BindingPower{BinaryOp::Ne, 1, 2};
    case TokenKind::Lt: return BindingPower{BinaryOp::Lt, 1, 2};
    case TokenKind::Le: return BindingPower{BinaryOp::Le, 1, 2};
    case TokenKind::Gt: return BindingPower{BinaryOp::Gt, 1, 2};
    case TokenKind::Ge: return BindingPower{BinaryOp::Ge, 1, 2};
    case TokenKind::Amp: return BindingPower{BinaryOp::Concat, 3, 4};
    case TokenKind::Plus: return BindingPower{BinaryOp::Add, 5, 6};
    case TokenKind::Minus: return BindingPower{BinaryOp::Sub, 5, 6};
    case TokenKind::Star: return BindingPower{BinaryOp::Mul, 7, 8};
    case TokenKind::Slash: return BindingPower{BinaryOp::Div, 7, 8};
    case TokenKind::Caret: return BindingPower{BinaryOp::Pow, 9, 10};
    default: return std::nullopt;
  }
}

// A prefix sign binds tighter than every infix operator: -2^2 is (-2)^2.
constexpr uint8_t kPrefixOperandPower = 10;

class Parser {
 public:
  Parser(std::vector<Token> tokens, size_t text_length)
      : tokens_(std::move(tokens)), text_length_(text_length) {}

  Result<ExprPtr, FormulaError> parse() {
    CMX_ASSIGN_OR_RETURN(Parsed root, parse_expr_bp(0, 0));
    if (!at_end()) return unexpected(fail(FormulaErrorKind::TrailingToken, current().start));
    return std::move(root.node);
  }

 private:
  bool at_end() const { return index_ >= tokens_.size(); }
  Token& current() { return tokens_[index_]; }
  bool current_is(TokenKind kind) const { return !at_end() && tokens_[index_].kind == kind; }
  size_t position() const { return at_end() ? text_length_ : tokens_[index_].start; }

  static FormulaError fail(FormulaErrorKind kind, size_t position) {
    FormulaError error;
    error.kind = kind;
    error.position = static_cast<uint32_t>(position);
    return error;
  }
  Result<uint32_t, FormulaError> grown(uint32_t child_height) const {
    if (child_height + 1 > kMaxTreeHeight) {
      return unexpected(fail(FormulaErrorKind::NestingTooDeep, position()));
    }
    return child_height + 1;
  }

  ParseResult parse_expr_bp(uint8_t min_power, uint32_t depth) {
    if (depth > kMaxParseDepth) {
      return unexpected(fail(FormulaErrorKind::NestingTooDeep, position()));
    }
    CMX_ASSIGN_OR_RETURN(Parsed left, parse_prefix(depth));
    while (!at_end()) {
      auto power = infix_power(current().kind);
      if (!power || power->left < min_power) break;
      ++index_;
      CMX_ASSIGN_OR_RETURN(Parsed right, parse_expr_bp(power->right, depth + 1));
      CMX_ASSIGN_OR_RETURN(uint32_t height, grown(std::max(left.height, right.height)));
      left.node = make_expr(node::Binary{power->op, std::move(left.node), std::move(right.node)});
      left.height = height;
    }
    return left;
  }

  ParseResult parse_prefix(uint32_t depth) {
    if (current_is(TokenKind::Plus) || current_is(TokenKind::Minus)) {
      const bool plus = current().kind == TokenKind::Plus;
      ++index_;
      CMX_ASSIGN_OR_RETURN(Parsed operand, parse_expr_bp(kPrefixOperandPower, depth + 1));
      CMX_ASSIGN_OR_RETURN(uint32_t height, grown(operand.height));
      return Parsed{make_expr(node::Unary{plus, std::move(operand.node)}), height};
    }
    CMX_ASSIGN_OR_RETURN(Parsed node, parse_primary(depth));
    while (current_is(TokenKind::Colon)) {
      const size_t colon = current().start;
      ++index_;
      CMX_ASSIGN_OR_RETURN(Parsed right, parse_primary(depth + 1));
      if (!is_range_operand(*node.node) || !is_range_operand(*right.node)) {
        return unexpected(fail(FormulaErrorKind::ColonJoinsReferences, colon));
      }
      CMX_ASSIGN_OR_RETURN(uint32_t height, grown(std::max(node.height, right.height)));
      node.node = make_expr(node::RangeOp{std::move(node.node), std::move(right.node)});
      node.height = height;
    }
    return node;
  }

  ParseResult parse_primary(uint32_t depth) {
    if (at_end()) return unexpected(fail(FormulaErrorKind::UnexpectedEnd, text_length_));
    Token& token = current();
    ++index_;
    Parsed out;
    switch (token.kind) {
      case TokenKind::Num:
        out.node = make_expr(node::Number{token.number});
        break;
      case TokenKind::Str:
        out.node = make_expr(node::Text{std::move(token.text)});
        break;
      case TokenKind::Bool:
        out.node = make_expr(node::Bool{token.boolean});
        break;
      case TokenKind::ErrLit:
        out.node = make_expr(node::Error{token.error});
        break;
      case TokenKind::Ident: {
        if (current_is(TokenKind::LParen)) {
          CMX_ASSIGN_OR_RETURN(out, parse_call_args(std::move(token.text), depth));
        } else {
          out.node = make_expr(node::Name{std::nullopt, std::move(token.text)});
        }
        break;
      }
      case TokenKind::Name:
        out.node = make_expr(node::Name{std::move(token.sheet), std::move(token.text)});
        break;
      case TokenKind::Ref:
        out.node = make_expr(node::Ref{std::move(token.sheet), token.range.start});
        break;
      case TokenKind::Range:
        out.node = make_expr(node::Range{std::move(token.sheet), token.range});
        break;
      case TokenKind::ColumnRange:
        out.node = make_expr(node::ColumnRange{std::move(token.sheet), token.columns});
        break;
      case TokenKind::RowRange:
        out.node = make_expr(node::RowRange{std::move(token.sheet), token.rows});
        break;
      case TokenKind::TableRef:
        out.node = make_expr(node::TableRef{std::move(token.text), std::move(token.spec)});
        break;
      case TokenKind::LParen: {
        CMX_ASSIGN_OR_RETURN(out, parse_expr_bp(0, depth + 1));
        if (!current_is(TokenKind::RParen)) {
          return unexpected(fail(FormulaErrorKind::ExpectedRParen, position()));
        }
        ++index_;
        break;
      }
      case TokenKind::LBrace: {
        CMX_ASSIGN_OR_RETURN(out, parse_array(depth));
        break;
      }
      default: {
        FormulaError error = fail(FormulaErrorKind::UnexpectedToken, token.start);
        error.token = token.kind;
        return unexpected(std::move(error));
      }
    }
    while (current_is(TokenKind::Percent)) {
      ++index_;
      CMX_ASSIGN_OR_RETURN(out.height, grown(out.height));
      out.node = make_expr(node::Percent{std::move(out.node)});
    }
    return out;
  }

  // After the "{".
  ParseResult parse_array(uint32_t depth) {
    node::Array array;
    uint32_t highest = 0;
    std::optional<size_t> width;
    size_t row_elements = 0;
    while (true) {
      CMX_ASSIGN_OR_RETURN(Parsed element, parse_expr_bp(0, depth + 1));
      array.elements.push_back(std::move(element.node));
      highest = std::max(highest, element.height);
      ++row_elements;
      if (at_end()) return unexpected(fail(FormulaErrorKind::ExpectedArraySeparator, text_length_));
      const TokenKind kind = current().kind;
      if (kind == TokenKind::Comma) {
        ++index_;
        continue;
      }
      if (kind != TokenKind::Semicolon && kind != TokenKind::RBrace) {
        return unexpected(fail(FormulaErrorKind::ExpectedArraySeparator, current().start));
      }
      if (width && *width != row_elements) {
        return unexpected(fail(FormulaErrorKind::RaggedArray, current().start));
      }
      width = row_elements;
      row_elements = 0;
      ++index_;
      if (kind == TokenKind::RBrace) break;
    }
    CMX_ASSIGN_OR_RETURN(uint32_t height, grown(highest));
    array.columns = static_cast<uint32_t>(*width);
    return Parsed{make_expr(std::move(array)), height};
  }

  // The name is consumed; the current token is "(".
  ParseResult parse_call_args(std::string name, uint32_t depth) {
    node::Call call;
    call.id = builtin_id_from_name(name);
    call.name = std::move(name);
    ++index_;
    if (current_is(TokenKind::RParen)) {
      ++index_;
      return Parsed{make_expr(std::move(call)), 1};
    }
    uint32_t highest = 0;
    while (true) {
      if (current_is(TokenKind::Comma) || current_is(TokenKind::RParen)) {
        call.args.push_back(make_expr(node::Literal{}));
        highest = std::max<uint32_t>(highest, 1);
      } else {
        CMX_ASSIGN_OR_RETURN(Parsed arg, parse_expr_bp(0, depth + 1));
        call.args.push_back(std::move(arg.node));
        highest = std::max(highest, arg.height);
      }
      if (current_is(TokenKind::Comma)) {
        ++index_;
        continue;
      }
      if (current_is(TokenKind::RParen)) {
        ++index_;
        break;
      }
      return unexpected(fail(FormulaErrorKind::ExpectedCommaOrRParen, position()));
    }
    CMX_ASSIGN_OR_RETURN(uint32_t height, grown(highest));
    return Parsed{make_expr(std::move(call)), height};
  }

  std::vector<Token> tokens_;
  size_t index_ = 0;
  size_t text_length_;
};

bool is_ascii_letter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool is_range_operand(const Expr& node) {
  switch (node.kind()) {
    case Expr::Kind::Error:
    case Expr::Kind::Ref:
    case Expr::Kind::Range:
    case Expr::Kind::ColumnRange:
    case Expr::Kind::TableRef:
    case Expr::Kind::RangeOp:
    case Expr::Kind::Call:
      return true;
    case Expr::Kind::Name: {
      std::string_view name = node.as<node::Name>().name;
      while (!name.empty() && name.front() == '$') name.remove_prefix(1);
      while (!name.empty() && name.back() == '$') name.remove_suffix(1);
      if (name.empty()) return false;
      const bool has_non_letter = std::any_of(name.begin(), name.end(),
                                              [](char c) { return !is_ascii_letter(c); });
      const bool has_non_digit = std::any_of(name.begin(), name.end(),
                                             [](char c) { return !is_ascii_digit(c); });
      return has_non_letter && has_non_digit;
    }
    case Expr::Kind::Number:
    case Expr::Kind::Literal:
    case Expr::Kind::Array:
    case Expr::Kind::Text:
    case Expr::Kind::Bool:
    case Expr::Kind::RowRange:
    case Expr::Kind::Unary:
    case Expr::Kind::Binary:
    case Expr::Kind::Percent:
      return false;
  }
  return false;
}

Result<ExprPtr, FormulaError> parse_formula(std::string_view text) {
  CMX_ASSIGN_OR_RETURN(std::vector<Token> tokens, lex_formula(text));
  return Parser(std::move(tokens), text.size()).parse();
}

}  // namespace cmx::formula
