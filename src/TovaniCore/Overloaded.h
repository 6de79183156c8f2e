// Overloaded combines lambdas into one visitor for std::visit.
//
//   std::visit(Overloaded{[](const A&) { ... }, [](const B&) { ... }}, value);
#pragma once

namespace tovani {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
// clang 14 does not deduce aggregate template arguments by itself.
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace tovani
