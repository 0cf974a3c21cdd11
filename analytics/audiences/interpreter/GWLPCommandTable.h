// The interpreter's commands: every command number a program may name, the
// command it stands for and the evaluator that runs it. The registrar and
// each evaluator take their entries from this one table; statements resolve
// their command from it once, when they are made.
//
// Some commands answer to two numbers (5 and 9, 16 and 17, 32 and 33, 34 and
// 35): both rows name the same command, which has one handler. The numbers
// 11, 14, 31, 48 and 49 stand for no command: a statement of that name calls
// the script function of that name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// One per command; the handlers of an evaluator are indexed by it.
enum class GWLPCommand : uint8_t {
  // Arithmetic.
  Add,
  Divide,
  Modulo,
  Multiply,
  Negate,
  FirstOfTwo,
  Identity,
  Subtract,
  // Comparison and equality.
  LooseEquals,
  GreaterThan,
  GreaterOrEqual,
  StrictEquals,
  StrictNotEquals,
  LessThan,
  LessOrEqual,
  LooseNotEquals,
  // Logical operators.
  LogicalAnd,
  LogicalNot,
  LogicalOr,
  // Bitwise operators and shifts.
  BitwiseAnd,
  ShiftLeft,
  BitwiseNot,
  BitwiseOr,
  ShiftRight,
  ShiftRightUnsigned,
  BitwiseXor,
  // Variables, properties and literals.
  Assign,
  CreateArray,
  CreateObject,
  GetVariable,
  GetProperty,
  Typeof,
  DeclareVariables,
  SetProperty,
  UndefinedLiteral,
  NullLiteral,
  DeclareConstants,
  // Control flow.
  CallMethod,
  Break,
  RunStatements,
  Continue,
  ExpressionList,
  If,
  Return,
  Switch,
  Conditional,
  StatementList,
  FunctionDeclaration,
  FunctionExpression,
  Block,
  // Loops.
  Loop,
  ForInAssign,
  ForInConst,
  ForInLet,
  ForLet,
  ForOfAssign,
  ForOfConst,
  ForOfLet,
};
inline constexpr size_t kGWLPCommandCount = static_cast<size_t>(GWLPCommand::ForOfLet) + 1;

// The evaluators that serve the commands.
enum class GWLPCommandEvaluatorKind : uint8_t { Bitwise, Comparison, Control, Logical, Loop, Math, Variable };

struct GWLPCommandEntry {
  int number;              // the statement name, written in decimal
  GWLPCommand command;
  const char* name;        // the command's name
  GWLPCommandEvaluatorKind evaluator;
};

inline constexpr GWLPCommandEntry kGWLPCommandTable[] = {
    {0, GWLPCommand::Add, "add", GWLPCommandEvaluatorKind::Math},
    {1, GWLPCommand::LogicalAnd, "logicalAnd", GWLPCommandEvaluatorKind::Logical},
    {2, GWLPCommand::CallMethod, "callMethod", GWLPCommandEvaluatorKind::Control},
    {3, GWLPCommand::Assign, "assign", GWLPCommandEvaluatorKind::Variable},
    {4, GWLPCommand::Break, "break", GWLPCommandEvaluatorKind::Control},
    {5, GWLPCommand::RunStatements, "runStatements", GWLPCommandEvaluatorKind::Control},
    {6, GWLPCommand::Continue, "continue", GWLPCommandEvaluatorKind::Control},
    {7, GWLPCommand::CreateArray, "createArray", GWLPCommandEvaluatorKind::Variable},
    {8, GWLPCommand::CreateObject, "createObject", GWLPCommandEvaluatorKind::Variable},
    {9, GWLPCommand::RunStatements, "runStatements", GWLPCommandEvaluatorKind::Control},
    {10, GWLPCommand::Divide, "divide", GWLPCommandEvaluatorKind::Math},
    {12, GWLPCommand::LooseEquals, "looseEquals", GWLPCommandEvaluatorKind::Comparison},
    {13, GWLPCommand::ExpressionList, "expressionList", GWLPCommandEvaluatorKind::Control},
    {15, GWLPCommand::GetVariable, "getVariable", GWLPCommandEvaluatorKind::Variable},
    {16, GWLPCommand::GetProperty, "getProperty", GWLPCommandEvaluatorKind::Variable},
    {17, GWLPCommand::GetProperty, "getProperty", GWLPCommandEvaluatorKind::Variable},
    {18, GWLPCommand::GreaterThan, "greaterThan", GWLPCommandEvaluatorKind::Comparison},
    {19, GWLPCommand::GreaterOrEqual, "greaterOrEqual", GWLPCommandEvaluatorKind::Comparison},
    {20, GWLPCommand::StrictEquals, "strictEquals", GWLPCommandEvaluatorKind::Comparison},
    {21, GWLPCommand::StrictNotEquals, "strictNotEquals", GWLPCommandEvaluatorKind::Comparison},
    {22, GWLPCommand::If, "if", GWLPCommandEvaluatorKind::Control},
    {23, GWLPCommand::LessThan, "lessThan", GWLPCommandEvaluatorKind::Comparison},
    {24, GWLPCommand::LessOrEqual, "lessOrEqual", GWLPCommandEvaluatorKind::Comparison},
    {25, GWLPCommand::Modulo, "modulo", GWLPCommandEvaluatorKind::Math},
    {26, GWLPCommand::Multiply, "multiply", GWLPCommandEvaluatorKind::Math},
    {27, GWLPCommand::Negate, "negate", GWLPCommandEvaluatorKind::Math},
    {28, GWLPCommand::LogicalNot, "logicalNot", GWLPCommandEvaluatorKind::Logical},
    {29, GWLPCommand::LooseNotEquals, "looseNotEquals", GWLPCommandEvaluatorKind::Comparison},
    {30, GWLPCommand::LogicalOr, "logicalOr", GWLPCommandEvaluatorKind::Logical},
    {32, GWLPCommand::FirstOfTwo, "firstOfTwo", GWLPCommandEvaluatorKind::Math},
    {33, GWLPCommand::FirstOfTwo, "firstOfTwo", GWLPCommandEvaluatorKind::Math},
    {34, GWLPCommand::Identity, "identity", GWLPCommandEvaluatorKind::Math},
    {35, GWLPCommand::Identity, "identity", GWLPCommandEvaluatorKind::Math},
    {36, GWLPCommand::Return, "return", GWLPCommandEvaluatorKind::Control},
    {37, GWLPCommand::Subtract, "subtract", GWLPCommandEvaluatorKind::Math},
    {38, GWLPCommand::Switch, "switch", GWLPCommandEvaluatorKind::Control},
    {39, GWLPCommand::Conditional, "conditional", GWLPCommandEvaluatorKind::Control},
    {40, GWLPCommand::Typeof, "typeof", GWLPCommandEvaluatorKind::Variable},
    {41, GWLPCommand::DeclareVariables, "declareVariables", GWLPCommandEvaluatorKind::Variable},
    {42, GWLPCommand::Loop, "loop", GWLPCommandEvaluatorKind::Loop},
    {43, GWLPCommand::SetProperty, "setProperty", GWLPCommandEvaluatorKind::Variable},
    {44, GWLPCommand::UndefinedLiteral, "undefinedLiteral", GWLPCommandEvaluatorKind::Variable},
    {45, GWLPCommand::NullLiteral, "nullLiteral", GWLPCommandEvaluatorKind::Variable},
    {46, GWLPCommand::StatementList, "statementList", GWLPCommandEvaluatorKind::Control},
    {47, GWLPCommand::ForInAssign, "forInAssign", GWLPCommandEvaluatorKind::Loop},
    {50, GWLPCommand::FunctionDeclaration, "functionDeclaration", GWLPCommandEvaluatorKind::Control},
    {51, GWLPCommand::FunctionExpression, "functionExpression", GWLPCommandEvaluatorKind::Control},
    {52, GWLPCommand::DeclareConstants, "declareConstants", GWLPCommandEvaluatorKind::Variable},
    {53, GWLPCommand::Block, "block", GWLPCommandEvaluatorKind::Control},
    {54, GWLPCommand::ForInConst, "forInConst", GWLPCommandEvaluatorKind::Loop},
    {55, GWLPCommand::ForInLet, "forInLet", GWLPCommandEvaluatorKind::Loop},
    {56, GWLPCommand::BitwiseAnd, "bitwiseAnd", GWLPCommandEvaluatorKind::Bitwise},
    {57, GWLPCommand::ShiftLeft, "shiftLeft", GWLPCommandEvaluatorKind::Bitwise},
    {58, GWLPCommand::BitwiseNot, "bitwiseNot", GWLPCommandEvaluatorKind::Bitwise},
    {59, GWLPCommand::BitwiseOr, "bitwiseOr", GWLPCommandEvaluatorKind::Bitwise},
    {60, GWLPCommand::ShiftRight, "shiftRight", GWLPCommandEvaluatorKind::Bitwise},
    {61, GWLPCommand::ShiftRightUnsigned, "shiftRightUnsigned", GWLPCommandEvaluatorKind::Bitwise},
    {62, GWLPCommand::BitwiseXor, "bitwiseXor", GWLPCommandEvaluatorKind::Bitwise},
    {63, GWLPCommand::ForLet, "forLet", GWLPCommandEvaluatorKind::Loop},
    {64, GWLPCommand::ForOfAssign, "forOfAssign", GWLPCommandEvaluatorKind::Loop},
    {65, GWLPCommand::ForOfConst, "forOfConst", GWLPCommandEvaluatorKind::Loop},
    {66, GWLPCommand::ForOfLet, "forOfLet", GWLPCommandEvaluatorKind::Loop},
};

// The row of the statement name `name`: a command number written exactly as
// the table writes it ("7", never "07" or "+7"), or none.
const GWLPCommandEntry* GWLPCommandEntryForName(std::string_view name);
// The table row of `command` with the lowest number.
const GWLPCommandEntry& GWLPCommandEntryFor(GWLPCommand command);
