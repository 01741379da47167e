// The public interface of the interpreter: failures, allocation failures
// included, become values.
#include "interpreter/interpreter.h"

#include <cassert>
#include <new>

#include "interpreter/machine.h"

namespace skern {

namespace {
Error out_of_memory() { return Error::runtime(std::string(msg::OUT_OF_MEMORY)); }
}  // namespace

Interpreter::Interpreter(const Program& program, LineInput& input, TextOutput& output, Limits limits)
    : machine_(std::make_unique<code::Machine>(program, input, output, limits)) {}

Interpreter::~Interpreter() = default;

void Interpreter::push_scope() { machine_->push_scope(); }
void Interpreter::pop_scope() { machine_->pop_scope(); }
std::size_t Interpreter::scope_count() const { return machine_->scope_count(); }

Status Interpreter::declare(Symbol name, std::optional<DataType> declared_type, Value value) {
  try {
    if (!machine_->declare(name, declared_type, std::move(value))) {
      return machine_->take_error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Status Interpreter::assign(Symbol name, Value value) {
  if (!machine_->assign(name, std::move(value))) {
    return machine_->take_error();
  }
  return {};
}

std::optional<Variable> Interpreter::lookup(Symbol name) const { return machine_->lookup(name); }

const FunctionDecl* Interpreter::find_function(Symbol name) const { return machine_->program().functions.find(name); }

Result<Flow> Interpreter::execute_block(const Block& block) {
  try {
    machine_->ensure_symbols(machine_->program().symbols.size());
    switch (machine_->run(*machine_->compile_block(block))) {
      case code::Outcome::Normal:
        return Flow{};
      case code::Outcome::Returned:
        return Flow{Flow::Kind::Returned, machine_->take_returned()};
      case code::Outcome::Failed:
      case code::Outcome::Paused:  // only runs under control pause
        break;
    }
    return machine_->take_error();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<Value> Interpreter::evaluate(const Expr& expr) {
  try {
    machine_->ensure_symbols(machine_->program().symbols.size());
    if (machine_->run(*machine_->compile_expression(expr)) == code::Outcome::Failed) {
      return machine_->take_error();
    }
    return machine_->take_result();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<bool> Interpreter::evaluate_condition(const Expr& condition) {
  Result<Value> value = evaluate(condition);
  if (!value.ok()) {
    return std::move(value).error();
  }
  if (!value->is(DataType::Vow)) {
    return Error::runtime(msg::condition_not_vow(type_name(*value)));
  }
  return value->as_vow();
}

Result<Value> Interpreter::call_function(Symbol name, const std::vector<Expr>& arguments) {
  try {
    machine_->ensure_symbols(machine_->program().symbols.size());
    const ExprList list(arguments.data(), arguments.size());
    if (machine_->run(*machine_->compile_call(name, list)) == code::Outcome::Failed) {
      return machine_->take_error();
    }
    return machine_->take_result();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Status run_program(const Program& program, LineInput& input, TextOutput& output, Limits limits) {
  try {
    Interpreter interpreter(program, input, output, limits);
    Result<Flow> flow = interpreter.execute_block(program.main);
    if (!flow.ok()) {
      return std::move(flow).error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

StreamedRun::StreamedRun(const Program& program, LineInput& input, TextOutput& output, Limits limits)
    : program_(program), input_(input), output_(output), limits_(limits) {}

StreamedRun::~StreamedRun() = default;

// The machine starts here, once the functions above the main block are
// known: which names they reach decides how the block's variables are kept.
void StreamedRun::begin() {
  machine_ = std::make_unique<code::Machine>(program_, input_, output_, limits_);
  compiler_ = std::make_unique<code::StreamCompiler>(machine_->stream_block());
  functions_ = program_.functions.size();
}

void StreamedRun::take(const Statement& statement) { compiler_->add(statement); }

bool StreamedRun::compiled() const { return compiler_ != nullptr && program_.functions.size() == functions_; }

Status StreamedRun::run() {
  assert(compiled() && "only a main block compiled whole runs");
  try {
    machine_->ensure_symbols(program_.symbols.size());
    const code::Unit* unit = machine_->keep(compiler_->finish());
    compiler_.reset();
    if (machine_->run(*unit) == code::Outcome::Failed) {
      return machine_->take_error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

}  // namespace skern
