// Compiling: the program tree to instructions over registers.
//
// Each statement becomes a few instructions that compute what the tree
// computes, in the same order. Names are resolved while compiling: a
// parameter or variable that the function itself has declared in an
// enclosing block, earlier on, is the nearest variable of that name whenever
// the code runs (callees leave nothing behind), so it is read and written in
// its register. Every other name is looked up in the table of names when the
// code runs, exactly as dynamic scoping asks.
#include "interpreter/compiler.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace skern::code {

namespace {

constexpr Kinds BLADE = bit(DataType::Blade);
constexpr Kinds WINE = bit(DataType::Wine);

// Where an operand's value is found: a register or a constant.
struct Operand {
  std::uint32_t index = 0;
  bool constant = false;
  bool temp = false;       // a temporary register, free to be moved out of
  Kinds kinds = ANY_KIND;  // what it may hold, where that is known cheaply
};

class Compiler {
 public:
  Compiler(const CompileContext& context, bool outside) : context_(context), outside_(outside) {
    make_room_for_names();
  }
  Compiler(const Compiler&) = delete;
  Compiler& operator=(const Compiler&) = delete;
  ~Compiler() {
    // Leaves the shared table all zero for the next compilation.
    for (const Local& local : locals_) {
      context_.nearest[local.name.id] = 0;
    }
  }

  Unit function(const FunctionDecl& function) {
    unit_.function = &function;
    if (context_.lines != nullptr) {
      mark_line(context_.lines->function_line(function.name));
    }
    open_scope();
    for (const Symbol param : function.params) {
      const std::uint32_t reg = top_++;
      use(reg);
      if (declared_in_scope(param)) {
        emit(Op::Fail, 0, param.id).sub = static_cast<std::uint16_t>(Failure::AlreadyDeclared);
        continue;
      }
      add_local(param, reg, UNTYPED, reachable(param));
      if (locals_.back().linked) {
        emit(Op::Link, reg, param.id).sub = UNTYPED;
      }
    }
    if (context_.steps == Steps::EveryRoundAndCall) {
      emit(Op::Step);
    }
    statements(function.body);
    emit(Op::ReturnVoid);
    return finish();
  }

  Unit outside_block(const Block& block) {
    open_scope();
    // The top-level declarations take the first registers, in order, so that
    // they can outlive the run.
    for (const Statement& statement : block) {
      if (statement.kind() == StatementKind::Declare) {
        use(top_++);
      }
    }
    unit_.outliving = top_;
    statements(block);
    emit(Op::End);
    return finish();
  }

  // An outside block given a statement at a time: its top-level
  // declarations take registers as they come, like any other, since their
  // number is not known in advance; nothing outlives the run.
  void begin_streamed_block() {
    streamed_ = true;
    open_scope();
  }
  void streamed_statement(const Statement& statement) {
    make_room_for_names();
    one_statement(statement);
  }
  Unit finish_streamed_block() {
    emit(Op::End);
    return finish();
  }

  Unit outside_expression(const Expr& expr) {
    open_scope();
    const std::uint32_t reg = temp();
    into(expr, reg);
    emit(Op::Halt, reg);
    return finish();
  }

  Unit outside_call(Symbol name, ExprList arguments) {
    open_scope();
    const std::uint32_t reg = temp();
    call(name, arguments, reg);
    emit(Op::Halt, reg);
    return finish();
  }

 private:
  struct Local {
    Symbol name;
    std::uint32_t reg;
    std::uint16_t type;      // a DataType, or UNTYPED
    bool linked;             // also findable by name
    std::uint32_t shadowed;  // index + 1 in locals_ of the local of the same name it hides, or 0
    // Only literals are ever stored in it: a text it holds is a constant's,
    // which letting go of would free nothing.
    bool literal_only = false;
    std::uint32_t info = 0;  // in unit_.locals, where lines are kept
  };
  struct Scope {
    std::uint32_t first_local;
    std::uint32_t first_register;
    std::uint32_t links = 0;
  };

  Unit finish() {
    unit_.registers = std::max<std::uint32_t>(unit_.registers, 1);
    if (context_.lines != nullptr) {
      finish_lines();
    }
    for (std::uint32_t i = 0; i < code_.size(); ++i) {
      encode(code_[i], i);
    }
    // A unit lives for the rest of the run: it keeps no room to grow.
    code_.shrink_to_fit();
    unit_.constants.shrink_to_fit();
    return std::move(unit_);
  }

  // --- Lines ---------------------------------------------------------------------

  // The instructions from here on belong to `line`.
  void mark_line(std::uint32_t line) {
    line_ = line;
    if (!line_marks_.empty() && line_marks_.back().first == here()) {
      line_marks_.back().second = line;
    } else {
      line_marks_.emplace_back(here(), line);
    }
  }
  void finish_lines() {
    unit_.lines.assign(code_.size(), 0);
    for (std::size_t i = 0; i < line_marks_.size(); ++i) {
      const std::size_t end = i + 1 < line_marks_.size() ? line_marks_[i + 1].first : code_.size();
      std::fill(unit_.lines.begin() + static_cast<std::ptrdiff_t>(line_marks_[i].first),
                unit_.lines.begin() + static_cast<std::ptrdiff_t>(end), line_marks_[i].second);
    }
    // What the unit's outermost scope declares is seen to its end.
    for (LocalInfo& local : unit_.locals) {
      if (local.to == 0) {
        local.to = static_cast<std::uint32_t>(code_.size());
      }
    }
  }

  // --- Registers, constants and emitting --------------------------------------

  // Names interned after compiling began (by the parser, while a block comes
  // a statement at a time) get their place in the shared table.
  void make_room_for_names() {
    if (context_.nearest.size() < context_.program.symbols.size()) {
      context_.nearest.resize(context_.program.symbols.size(), 0);
    }
  }
  void use(std::uint32_t reg) { unit_.registers = std::max(unit_.registers, reg + 1); }
  std::uint32_t temp() {
    use(top_);
    return top_++;
  }
  Instr& emit(Op op, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0) {
    Instr& instr = code_.push_back(Instr{});
    instr.op = op;
    instr.a = a;
    instr.b = b;
    instr.c = c;
    return instr;
  }
  [[nodiscard]] std::uint32_t here() const { return static_cast<std::uint32_t>(code_.size()); }
  void land(std::uint32_t jump) { code_[jump].c = here(); }

  // Equal constants share one slot.
  std::uint32_t constant(Value value) {
    if (value.is(DataType::Scroll)) {
      const auto found = texts_.find(value.as_text());
      if (found != texts_.end()) {
        return found->second;
      }
      const auto index = static_cast<std::uint32_t>(unit_.constants.size());
      unit_.constants.push_back(std::move(value));
      texts_.emplace(unit_.constants.back().as_text(), index);
      return index;
    }
    auto& others = others_[value.tag()];
    const auto found = others.find(value.bits());
    if (found != others.end()) {
      return found->second;
    }
    const auto index = static_cast<std::uint32_t>(unit_.constants.size());
    others.emplace(value.bits(), index);
    unit_.constants.push_back(std::move(value));
    return index;
  }

  // --- Scopes and names -------------------------------------------------------

  void open_scope() { scopes_.push_back(Scope{static_cast<std::uint32_t>(locals_.size()), top_}); }
  // Ends a block's scope: its variables are found by name no more, and let go
  // of their texts, so that nothing holds what the program can no longer see.
  // The registers that a loop body's scope lets go of, which the loop's jump
  // back does in passing: none here.
  struct Release {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
  };

  // `into`: where a loop's jump back takes over the clearing.
  void close_scope(Instr* into = nullptr) {
    const Scope scope = scopes_.back();
    scopes_.pop_back();
    if (scope.links > 0) {
      emit(Op::Unlink, scope.links);
    }
    bool texts = false;
    while (locals_.size() > scope.first_local) {
      const Local& local = locals_.back();
      if (context_.lines != nullptr) {
        unit_.locals[local.info].to = here();
      }
      texts = texts || (!local.literal_only &&
                        (local.type == UNTYPED || local.type == static_cast<std::uint16_t>(DataType::Scroll)));
      context_.nearest[local.name.id] = local.shadowed;
      locals_.pop_back();
    }
    if (texts && top_ > scope.first_register) {
      const std::uint32_t count = top_ - scope.first_register;
      if (into != nullptr && count <= 0xFFFF) {
        into->op = into->op == Op::Jump ? Op::JumpClearing : Op::MarchesAgainClearing;
        into->b = scope.first_register;
        into->sub = static_cast<std::uint16_t>(count);
      } else {
        emit(Op::Clear, scope.first_register, count);
      }
    }
    top_ = scope.first_register;
  }

  [[nodiscard]] bool reachable(Symbol name) const {
    return name.id < context_.reachable.size() && context_.reachable[name.id];
  }
  [[nodiscard]] const Local* find(Symbol name) const {
    const std::uint32_t index = context_.nearest[name.id];
    return index == 0 ? nullptr : &locals_[index - 1];
  }
  // A local that something other than a literal is stored into.
  void stored(Symbol name, const Expr& value) {
    const std::uint32_t index = context_.nearest[name.id];
    if (index != 0 && !is_literal(value)) {
      locals_[index - 1].literal_only = false;
    }
  }
  [[nodiscard]] bool declared_in_scope(Symbol name) const {
    const std::uint32_t index = context_.nearest[name.id];
    return index != 0 && index - 1 >= scopes_.back().first_local;
  }
  void add_local(Symbol name, std::uint32_t reg, std::uint16_t type, bool linked) {
    locals_.push_back(Local{name, reg, type, linked, context_.nearest[name.id]});
    context_.nearest[name.id] = static_cast<std::uint32_t>(locals_.size());
    if (context_.lines != nullptr) {
      locals_.back().info = static_cast<std::uint32_t>(unit_.locals.size());
      unit_.locals.push_back(LocalInfo{name, reg, type, here(), 0});
    }
  }
  [[nodiscard]] static Kinds kinds_of(const Local& local) {
    return local.type == UNTYPED ? ANY_KIND : bit(static_cast<DataType>(local.type));
  }
  // A name's kinds are those of the unit's variable in scope, or any kind.
  [[nodiscard]] NameKinds name_kinds() const {
    return NameKinds{this, [](const void* self, Symbol name) {
                       const Local* local = static_cast<const Compiler*>(self)->find(name);
                       return local == nullptr ? ANY_KIND : kinds_of(*local);
                     }};
  }
  [[nodiscard]] Kinds kinds_of(const Expr& expr) const { return expression_kinds(expr, name_kinds()); }

  // --- Statements -------------------------------------------------------------

  void statements(const Block& block) {
    const std::uint32_t outer = line_;
    for (const Statement& statement : block) {
      one_statement(statement);
    }
    // What closes the block belongs to the statement that holds it.
    if (context_.lines != nullptr) {
      mark_line(outer);
    }
  }

  void one_statement(const Statement& statement) {
    if (context_.lines != nullptr) {
      mark_line(context_.lines->line_of(statement));
    }
    if (context_.steps == Steps::EveryStatement) {
      emit(Op::Step);
    } else if (context_.steps == Steps::Lines && statement.kind() != StatementKind::While) {
      emit(Op::Line, line_);
    }
    const std::uint32_t mark = top_;
    this->statement(statement);
    // Declarations keep their register; temporaries end with the statement.
    if (statement.kind() != StatementKind::Declare) {
      top_ = mark;
    }
    if (context_.lines != nullptr) {
      mark_line(context_.lines->line_of(statement));
    }
  }

  void scoped_block(const Block& block) {
    open_scope();
    statements(block);
    close_scope();
  }

  // A loop body, its scope closed by the jump back that follows it.
  void loop_body(const Block& block, Op back, std::uint32_t a, std::uint32_t target) {
    open_scope();
    if (context_.steps == Steps::EveryRoundAndCall) {
      emit(Op::Step);
    }
    statements(block);
    Instr jump;
    jump.op = back;
    jump.a = a;
    jump.c = target;
    close_scope(&jump);
    code_.push_back(jump);
  }

  void statement(const Statement& statement) {
    switch (statement.kind()) {
      case StatementKind::Declare:
        declare(statement.as<Declare>());
        return;
      case StatementKind::Assign:
        assign(statement.as<Assign>());
        return;
      case StatementKind::Input:
        input(statement.as<Input>().name);
        return;
      case StatementKind::Speak:
        speak(statement.as<Speak>().value);
        return;
      case StatementKind::Return:
        return_value(statement.as<Return>().value);
        return;
      case StatementKind::If:
        branch(statement.as<If>());
        return;
      case StatementKind::RealmMarches:
        marches(statement.as<RealmMarches>());
        return;
      case StatementKind::While:
        loop(statement.as<While>());
        return;
      case StatementKind::ExprStatement:
        discard(statement.as<ExprStatement>().expression);
        return;
    }
  }

  // The value goes straight into the new variable's register, checked by the
  // store rule where its kind is not known to fit; the variable becomes
  // visible after that, and findable by name where some function may look.
  void declare(const Declare& declare) {
    const bool outermost = outside_ && scopes_.size() == 1;
    const std::uint32_t reg = outermost && !streamed_ ? outliving_next_++ : temp();
    const auto type = static_cast<std::uint16_t>(declare.type);
    into(declare.value, reg);
    if ((kinds_of(declare.value) & ~bit(declare.type)) != 0) {
      emit(Op::Coerce, reg).sub = type;
    }
    if (declared_in_scope(declare.name)) {
      emit(Op::Fail, 0, declare.name.id).sub = static_cast<std::uint16_t>(Failure::AlreadyDeclared);
      return;
    }
    const bool linked = outermost || reachable(declare.name);
    add_local(declare.name, reg, type, linked);
    locals_.back().literal_only = is_literal(declare.value);
    if (outermost) {
      emit(Op::LinkOutside, reg, declare.name.id).sub = type;
    } else if (linked) {
      emit(Op::Link, reg, declare.name.id).sub = type;
      ++scopes_.back().links;
    }
    // Seen from the next instruction on, once its value is in place.
    if (context_.lines != nullptr) {
      unit_.locals[locals_.back().info].from = here();
    }
  }

  void assign(const Assign& assign) {
    stored(assign.name, assign.value);
    const Local* local = find(assign.name);
    if ((local == nullptr && update_by_name(assign)) || append_chain(assign, local)) {
      return;
    }
    if (local == nullptr) {
      const std::uint32_t reg = temp();
      into(assign.value, reg);
      emit(Op::SetName, reg, assign.name.id);
      return;
    }
    const Kinds kinds = kinds_of(assign.value);
    if (local->type == UNTYPED || (kinds & ~kinds_of(*local)) == 0) {
      into_variable(assign.value, local->reg);
      return;
    }
    const std::uint32_t reg = temp();
    into(assign.value, reg);
    emit(Op::Store, local->reg, reg).sub = local->type;
  }

  // `x = x op c` for a variable found by name, where c is a literal or a
  // variable of the function's own: nothing can fail or change x between
  // reading it and storing it, so one instruction does both.
  bool update_by_name(const Assign& assign) {
    const auto* binary = assign.value.get_if<Binary>();
    if (binary == nullptr || binary->op > BinaryOp::Multiply) {
      return false;
    }
    const auto* left = binary->left()->get_if<Identifier>();
    if (left == nullptr || left->name != assign.name) {
      return false;
    }
    if (std::optional<Value> value = literal_value(*binary->right())) {
      emit(update_name_op(binary->op, true), 0, assign.name.id, constant(std::move(*value)));
      return true;
    }
    const auto* right = binary->right()->get_if<Identifier>();
    const Local* local = right == nullptr ? nullptr : find(right->name);
    if (local == nullptr) {
      return false;
    }
    emit(update_name_op(binary->op, false), 0, assign.name.id, local->reg);
    return true;
  }

  // `x = x + a + b ...` where x may hold a text: the pieces are checked as
  // they come and joined once at the end, onto x's own buffer when x is its
  // only holder, so that building a text stays linear however many pieces
  // one statement appends. x keeps its value until the store.
  bool append_chain(const Assign& assign, const Local* local) {
    const auto* top = assign.value.get_if<Binary>();
    if (top == nullptr || top->op != BinaryOp::Add) {
      return false;
    }
    const Spine spine = spine_of(*top);
    const auto* first = spine.front()->left()->get_if<Identifier>();
    if (first == nullptr || first->name != assign.name ||
        std::any_of(spine.begin(), spine.end(), [](const Binary* step) { return step->op != BinaryOp::Add; })) {
      return false;
    }
    if (local != nullptr) {
      if ((kinds_of(*local) & bit(DataType::Scroll)) == 0) {
        return false;  // no text to build: plain arithmetic
      }
      const bool called =
          std::any_of(spine.begin(), spine.end(), [](const Binary* step) { return calls(*step->right()); });
      if (spine.size() == 1 && !(called && local->linked)) {
        return false;  // one piece that nothing can see half done: appended in place by AddRR/AddRK
      }
    }
    const std::uint32_t acc = temp();
    if (local != nullptr) {
      emit(Op::AppendStart, acc, local->reg);
    } else {
      emit(Op::AppendStartName, acc, assign.name.id);
    }
    for (const Binary* step : spine) {
      const std::uint32_t mark = top_;
      const Operand piece = operand(*step->right(), false);
      Instr& instr = emit(piece.constant ? Op::AppendK : Op::AppendR, acc, 0, piece.index);
      instr.flags = piece.temp ? TEMP_C : 0;
      top_ = mark;
    }
    if (local != nullptr) {
      emit(Op::AppendStore, acc, local->reg).sub = local->type;
    } else {
      emit(Op::AppendStoreName, acc, assign.name.id);
    }
    return true;
  }

  void input(Symbol name) {
    stored(name, Expr(Identifier{name}));
    const Local* local = find(name);
    if (local == nullptr) {
      emit(Op::InputName, 0, name.id);
    } else if (local->type == UNTYPED) {
      emit(Op::Fail, 0, name.id).sub = static_cast<std::uint16_t>(Failure::InputUntyped);
    } else {
      emit(Op::InputLocal, local->reg).sub = local->type;
    }
  }

  void speak(const Expr& value) {
    const Operand operand = register_operand(value);
    emit(Op::Speak, operand.index).flags = operand.temp ? TAKE : 0;
  }

  void return_value(const Expr& value) {
    const Operand operand = register_operand(value);
    emit(Op::Return, operand.index).flags = operand.temp ? TAKE : 0;
  }

  void discard(const Expr& expr) {
    const std::uint32_t reg = temp();
    into(expr, reg);
    if ((kinds_of(expr) & bit(DataType::Scroll)) != 0) {
      emit(Op::Clear, reg, 1);
    }
  }

  void branch(const If& branch) {
    const std::uint32_t mark = top_;
    const std::uint32_t otherwise = jump_unless(branch.condition);
    top_ = mark;
    scoped_block(branch.then_block);
    if (branch.else_block.empty()) {
      land(otherwise);
      return;
    }
    const std::uint32_t done = here();
    emit(Op::Jump);
    land(otherwise);
    scoped_block(branch.else_block);
    land(done);
  }

  // The count lives in a register of its own below the body's.
  void marches(const RealmMarches& loop) {
    const std::uint32_t count = temp();
    into(loop.count, count);
    top_ = count + 1;
    const std::uint32_t start = here();
    emit(Op::MarchesStart, count);
    const std::uint32_t body = here();
    loop_body(loop.body, Op::MarchesAgain, count, body);
    land(start);
  }

  void loop(const While& loop) {
    const std::uint32_t rounds = temp();
    emit(Op::WhileStart, rounds);
    const std::uint32_t top = here();
    // Each round's check of the condition is a stop on the loop's line.
    if (context_.steps == Steps::Lines) {
      emit(Op::Line, line_);
    }
    const std::uint32_t mark = top_;
    const std::uint32_t done = jump_unless(loop.condition);
    top_ = mark;
    emit(Op::WhileNext, rounds);
    loop_body(loop.body, Op::Jump, 0, top);
    land(done);
  }

  // The jump taken when the condition does not hold, to be landed.
  std::uint32_t jump_unless(const Expr& condition) {
    const auto* binary = condition.get_if<Binary>();
    if (binary != nullptr && binary->op >= BinaryOp::Greater) {
      const auto [left, right] = operands(*binary->left(), *binary->right());
      const Form form = right.constant ? Form::RK : left.constant ? Form::KR : Form::RR;
      const std::uint32_t jump = here();
      const bool ordered = binary->op == BinaryOp::Greater || binary->op == BinaryOp::Less;
      if (ordered && left.kinds == right.kinds && (left.kinds == BLADE || left.kinds == WINE)) {
        emit(jump_unless_known_op(binary->op, form, left.kinds == WINE), left.index, right.index);
        return jump;
      }
      Instr& instr = emit(jump_unless_op(binary->op, form), left.index, right.index);
      instr.flags = static_cast<std::uint8_t>((left.temp ? TEMP_B : 0) | (right.temp ? TEMP_C : 0));
      return jump;
    }
    const Operand value = register_operand(condition);
    const std::uint32_t jump = here();
    emit(Op::JumpUnless, value.index);
    return jump;
  }

  // --- Expressions ------------------------------------------------------------

  // The value of `expr` in some register: a variable's own, or a new temporary.
  Operand register_operand(const Expr& expr) {
    Operand result = operand(expr, false);
    if (result.constant) {
      const std::uint32_t reg = temp();
      emit(Op::LoadConstant, reg, result.index);
      return Operand{reg, false, true};
    }
    return result;
  }

  // A literal stays a constant and a variable of the function's own is read
  // where it is, unless `protect`: then a call evaluated after it might
  // change it before the operator reads it, so it is copied now.
  Operand operand(const Expr& expr, bool protect) {
    if (is_literal(expr)) {
      return Operand{constant(*literal_value(expr)), true, false, kinds_of(expr)};
    }
    if (const auto* identifier = expr.get_if<Identifier>()) {
      if (const Local* local = find(identifier->name); local != nullptr && !(protect && local->linked)) {
        return Operand{local->reg, false, false, kinds_of(*local)};
      }
    }
    const std::uint32_t reg = temp();
    into(expr, reg);
    return Operand{reg, false, true, nearby_kinds(expr, name_kinds())};
  }

  // The two operands of a binary operator, in order; the left one is
  // protected from a call in the right one. Two constants: the left one goes
  // into a register.
  std::pair<Operand, Operand> operands(const Expr& left_expr, const Expr& right_expr) {
    Operand left = operand(left_expr, calls(right_expr));
    const Operand right = operand(right_expr, false);
    if (left.constant && right.constant) {
      const std::uint32_t reg = temp();
      emit(Op::LoadConstant, reg, left.index);
      left = Operand{reg, false, true};
    }
    return {left, right};
  }

  // `+`, `-`, `*` and `/` of operands known to be two blades or two wines
  // need no test of their kinds, and only `/` can fail.
  void operate(BinaryOp op, std::uint32_t dest, const Operand& left, const Operand& right) {
    const bool numeric = op <= BinaryOp::Divide;
    const bool blades = numeric && left.kinds == BLADE && right.kinds == BLADE;
    const bool wines = numeric && left.kinds == WINE && right.kinds == WINE;
    if (op <= BinaryOp::Multiply && !left.constant && left.index == dest && !(right.temp && right.index == dest)) {
      if (blades || wines) {
        emit(update_known_op(op, right.constant, wines), dest, 0, right.index);
        return;
      }
      Instr& instr = emit(update_op(op, right.constant), dest, 0, right.index);
      instr.flags = right.temp ? TEMP_C : 0;
      return;
    }
    const Form form = right.constant ? Form::RK : left.constant ? Form::KR : Form::RR;
    if (blades || wines) {
      emit(known_op(op, form, wines), dest, left.index, right.index);
      return;
    }
    Instr& instr = emit(operator_op(op, form), dest, left.index, right.index);
    instr.flags = static_cast<std::uint8_t>((left.temp && left.index != dest ? TEMP_B : 0) |
                                            (right.temp && right.index != dest ? TEMP_C : 0));
  }

  // The value of `expr` into `dest`, a register that no name reaches yet.
  void into(const Expr& expr, std::uint32_t dest) { compute(expr, dest, dest); }

  // The value of `expr` into the register of a variable, which keeps its
  // value until the last step: any earlier step works in a temporary.
  void into_variable(const Expr& expr, std::uint32_t variable) {
    const bool one_step = expr.kind() != ExprKind::Call &&
                          (expr.kind() != ExprKind::Unary || expr.as<Unary>().operand->kind() != ExprKind::Unary) &&
                          (expr.kind() != ExprKind::Binary || expr.as<Binary>().left()->kind() != ExprKind::Binary);
    if (one_step) {
      compute(expr, variable, variable);
      return;
    }
    const std::uint32_t work = temp();
    compute(expr, variable, work);
  }

  // Computes `expr` into `dest`, doing any steps before the last in `work`.
  void compute(const Expr& expr, std::uint32_t dest, std::uint32_t work) {
    if (is_literal(expr)) {
      emit(Op::LoadConstant, dest, constant(*literal_value(expr)));
      return;
    }
    switch (expr.kind()) {
      case ExprKind::Identifier: {
        const Symbol name = expr.as<Identifier>().name;
        if (const Local* local = find(name)) {
          if (local->reg != dest) {
            emit(Op::Move, dest, local->reg);
          }
        } else {
          emit(Op::GetName, dest, name.id);
        }
        return;
      }
      case ExprKind::Unary:
        unary(expr, dest, work);
        return;
      case ExprKind::Binary:
        binary(expr.as<Binary>(), dest, work);
        return;
      case ExprKind::Call:
        call(expr.as<Call>().name, expr.as<Call>().arguments(), dest);
        return;
      default:
        return;
    }
  }

  void unary(const Expr& expr, std::uint32_t dest, std::uint32_t work) {
    std::vector<UnaryOp> ops;
    const Expr* at = &expr;
    for (; at->kind() == ExprKind::Unary; at = at->as<Unary>().operand) {
      ops.push_back(at->as<Unary>().op);
    }
    const Operand source = register_operand(*at);
    std::uint32_t from = source.index;
    for (std::size_t i = ops.size(); i > 0; --i) {
      const std::uint32_t to = i == 1 ? dest : work;
      emit(ops[i - 1] == UnaryOp::Negate ? Op::Negate : Op::Not, to, from);
      from = to;
    }
  }

  void binary(const Binary& top, std::uint32_t dest, std::uint32_t work) {
    const Spine spine = spine_of(top);
    if (join(spine, dest)) {
      return;
    }
    Kinds kinds = ANY_KIND;  // of the run so far, in `work`
    for (std::size_t i = 0; i < spine.size(); ++i) {
      const Binary& step = *spine[i];
      const std::uint32_t to = i + 1 == spine.size() ? dest : work;
      const std::uint32_t mark = top_;
      if (i == 0) {
        const auto [left, right] = operands(*step.left(), *step.right());
        operate(step.op, to, left, right);
        kinds = binary_kinds(step.op, left.kinds, right.kinds);
      } else {
        const Operand right = operand(*step.right(), false);
        operate(step.op, to, Operand{work, false, true, kinds}, right);
        kinds = binary_kinds(step.op, kinds, right.kinds);
      }
      top_ = std::max(mark, work + 1);
    }
  }

  // `a + b + c ...` of operands known to be texts: nothing can fail on the
  // way (but for the length cap) and nothing can run, so the pieces are
  // joined at once into one buffer of the whole length.
  bool join(const Spine& spine, std::uint32_t dest) {
    const auto text = [this](const Expr& expr) { return kinds_of(expr) == bit(DataType::Scroll); };
    if (spine.size() < 2 ||
        !std::all_of(spine.begin(), spine.end(), [](const Binary* step) { return step->op == BinaryOp::Add; }) ||
        !text(*spine.front()->left()) ||
        !std::all_of(spine.begin(), spine.end(), [&text](const Binary* step) { return text(*step->right()); })) {
      return false;
    }
    std::vector<Operand> pieces{operand(*spine.front()->left(), false)};
    for (const Binary* step : spine) {
      pieces.push_back(operand(*step->right(), false));
    }
    emit(Op::Join, dest, 0, static_cast<std::uint32_t>(pieces.size()));
    for (const Operand& piece : pieces) {
      emit(Op::Piece, piece.index).flags =
          static_cast<std::uint8_t>((piece.constant ? TAKE : 0) | (piece.temp && piece.index != dest ? TEMP_B : 0));
    }
    return true;
  }

  // The arguments go into consecutive registers, which become the callee's
  // parameters, and the value comes back in the first of them. Whether the
  // function exists and takes that many arguments is known now, but is only
  // reported after the arguments have been evaluated, as the call would.
  void call(Symbol name, ExprList arguments, std::uint32_t dest) {
    const std::uint32_t window = dest + 1 == top_ ? dest : temp();
    top_ = window;
    for (const Expr& argument : arguments) {
      const std::uint32_t reg = temp();
      into(argument, reg);
      top_ = reg + 1;
    }
    use(window);
    const FunctionDecl* function = context_.program.functions.find(name);
    const auto count = static_cast<std::uint32_t>(arguments.size());
    if (function == nullptr) {
      emit(Op::Fail, 0, name.id).sub = static_cast<std::uint16_t>(Failure::UnknownCouncil);
    } else if (function->params.size() != arguments.size()) {
      Instr& instr = emit(Op::Fail, count, name.id, static_cast<std::uint32_t>(function->params.size()));
      instr.sub = static_cast<std::uint16_t>(Failure::WrongArity);
    } else {
      emit(Op::Call, window, count, name.id);
    }
    if (window != dest) {
      emit(Op::Take, dest, window);
    }
    top_ = std::max(dest + 1, window);
  }

  const CompileContext& context_;
  const bool outside_;
  bool streamed_ = false;  // an outside block given a statement at a time
  Unit unit_;
  Code& code_ = unit_.code;
  std::vector<Local> locals_;
  std::vector<Scope> scopes_;
  std::uint32_t top_ = 0;             // the first free register
  std::uint32_t outliving_next_ = 0;  // the register of the next top-level declaration run from outside
  std::uint32_t line_ = 0;            // of the statement being compiled, where lines are kept
  std::vector<std::pair<std::uint32_t, std::uint32_t>> line_marks_;  // (instruction, line) where the line changes
  std::unordered_map<std::string_view, std::uint32_t> texts_;
  std::array<std::unordered_map<std::uint64_t, std::uint32_t>, DATA_TYPE_COUNT> others_;  // by kind, then bits
};

}  // namespace

Unit compile_function(const CompileContext& context, const FunctionDecl& function) {
  return Compiler(context, false).function(function);
}

Unit compile_outside_block(const CompileContext& context, const Block& block) {
  return Compiler(context, true).outside_block(block);
}

struct StreamCompiler::State {
  explicit State(const CompileContext& given) : context(given), compiler(context, true) {
    compiler.begin_streamed_block();
  }
  CompileContext context;
  Compiler compiler;
};

StreamCompiler::StreamCompiler(const CompileContext& context) : state_(std::make_unique<State>(context)) {}
StreamCompiler::StreamCompiler(StreamCompiler&&) noexcept = default;
StreamCompiler& StreamCompiler::operator=(StreamCompiler&&) noexcept = default;
StreamCompiler::~StreamCompiler() = default;

void StreamCompiler::add(const Statement& statement) { state_->compiler.streamed_statement(statement); }

Unit StreamCompiler::finish() {
  Unit unit = state_->compiler.finish_streamed_block();
  state_.reset();
  return unit;
}

Unit compile_outside_expression(const CompileContext& context, const Expr& expr) {
  return Compiler(context, true).outside_expression(expr);
}

Unit compile_outside_call(const CompileContext& context, Symbol name, ExprList arguments) {
  return Compiler(context, true).outside_call(name, arguments);
}

}  // namespace skern::code
