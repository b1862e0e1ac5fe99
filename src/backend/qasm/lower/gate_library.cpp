#include "qasm/lower/gate_library.hpp"

namespace corvane::qasm3::detail::lower {

namespace {

// The OpenQASM 3 standard library. The `gphase` statements of its definitions are part
// of what the gates do, so they stay.
constexpr std::string_view STDGATES_INC = R"qasm(
gate p(λ) a { ctrl @ gphase(λ) a; }
gate x a { U(π, 0, π) a; gphase(-π/2);}
gate y a { U(π, π/2, π/2) a; gphase(-π/2);}
gate z a { p(π) a; }
gate h a { U(π/2, 0, π) a; gphase(-π/4);}
gate s a { pow(0.5) @ z a; }
gate sdg a { inv @ pow(0.5) @ z a; }
gate t a { pow(0.5) @ s a; }
gate tdg a { inv @ pow(0.5) @ s a; }
gate sx a { pow(0.5) @ x a; }
gate rx(θ) a { U(θ, -π/2, π/2) a; gphase(-θ/2);}
gate ry(θ) a { U(θ, 0, 0) a; gphase(-θ/2);}
gate rz(λ) a { gphase(-λ/2); U(0, 0, λ) a; }
gate cx a, b { ctrl @ x a, b; }
gate cy a, b { ctrl @ y a, b; }
gate cz a, b { ctrl @ z a, b; }
gate cp(λ) a, b { ctrl @ p(λ) a, b; }
gate crx(θ) a, b { ctrl @ rx(θ) a, b; }
gate cry(θ) a, b { ctrl @ ry(θ) a, b; }
gate crz(θ) a, b { ctrl @ rz(θ) a, b; }
gate ch a, b { ctrl @ h a, b; }
gate swap a, b { cx a, b; cx b, a; cx a, b; }
gate ccx a, b, c { ctrl @ ctrl @ x a, b, c; }
gate cswap a, b, c { ctrl @ swap a, b, c; }
gate cu(θ, φ, λ, γ) a, b { p(γ-θ/2) a; ctrl @ U(θ, φ, λ) a, b; }
gate CX a, b { ctrl @ U(π, 0, π) a, b; }
gate phase(λ) q { U(0, 0, λ) q; }
gate cphase(λ) a, b { ctrl @ phase(λ) a, b; }
gate id a { U(0, 0, 0) a; }
gate u1(λ) q { U(0, 0, λ) q; }
gate u2(φ, λ) q { gphase(-(φ+λ+π/2)/2); U(π/2, φ, λ) q; }
gate u3(θ, φ, λ) q { gphase(-(φ+λ+θ)/2); U(θ, φ, λ) q; }
)qasm";

// The OpenQASM 2 library, built on U and CX.
constexpr std::string_view QELIB1_INC = R"qasm(
gate u3(theta,phi,lambda) q { U(theta,phi,lambda) q; }
gate u2(phi,lambda) q { U(pi/2,phi,lambda) q; }
gate u1(lambda) q { U(0,0,lambda) q; }
gate cx c,t { CX c,t; }
gate id a { U(0,0,0) a; }
gate u0(gamma) q { U(0,0,0) q; }
gate u(theta,phi,lambda) q { U(theta,phi,lambda) q; }
gate p(lambda) q { U(0,0,lambda) q; }
gate x a { u3(pi,0,pi) a; }
gate y a { u3(pi,pi/2,pi/2) a; }
gate z a { u1(pi) a; }
gate h a { u2(0,pi) a; }
gate s a { u1(pi/2) a; }
gate sdg a { u1(-pi/2) a; }
gate t a { u1(pi/4) a; }
gate tdg a { u1(-pi/4) a; }
gate rx(theta) a { u3(theta, -pi/2,pi/2) a; }
gate ry(theta) a { u3(theta,0,0) a; }
gate rz(phi) a { u1(phi) a; }
gate sx a { sdg a; h a; sdg a; }
gate sxdg a { s a; h a; s a; }
gate cz a,b { h b; cx a,b; h b; }
gate cy a,b { sdg b; cx a,b; s b; }
gate swap a,b { cx a,b; cx b,a; cx a,b; }
gate ch a,b { h b; sdg b; cx a,b; h b; t b; cx a,b; t b; h b; s b; x b; s a; }
gate ccx a,b,c {
  h c; cx b,c; tdg c; cx a,c; t c; cx b,c; tdg c; cx a,c; t b; t c; h c; cx a,b; t a; tdg b;
  cx a,b;
}
gate cswap a,b,c { cx c,b; ccx a,b,c; cx c,b; }
gate crx(lambda) a,b {
  u1(pi/2) b; cx a,b; u3(-lambda/2,0,0) b; cx a,b; u3(lambda/2,-pi/2,0) b;
}
gate cry(lambda) a,b { ry(lambda/2) b; cx a,b; ry(-lambda/2) b; cx a,b; }
gate crz(lambda) a,b { rz(lambda/2) b; cx a,b; rz(-lambda/2) b; cx a,b; }
gate cu1(lambda) a,b { u1(lambda/2) a; cx a,b; u1(-lambda/2) b; cx a,b; u1(lambda/2) b; }
gate cp(lambda) a,b { p(lambda/2) a; cx a,b; p(-lambda/2) b; cx a,b; p(lambda/2) b; }
gate cu3(theta,phi,lambda) c, t {
  u1((lambda+phi)/2) c; u1((lambda-phi)/2) t; cx c,t; u3(-theta/2,0,-(phi+lambda)/2) t; cx c,t;
  u3(theta/2,phi,0) t;
}
gate csx a,b { h b; cu1(pi/2) a,b; h b; }
gate cu(theta,phi,lambda,gamma) c, t {
  p(gamma) c; p((lambda+phi)/2) c; p((lambda-phi)/2) t; cx c,t;
  u(-theta/2,0,-(phi+lambda)/2) t; cx c,t; u(theta/2,phi,0) t;
}
gate rxx(theta) a,b {
  u3(pi/2, theta, 0) a; h b; cx a,b; u1(-theta) b; cx a,b; h b; u2(-pi, pi-theta) a;
}
gate rzz(theta) a,b { cx a,b; u1(theta) b; cx a,b; }
gate rccx a,b,c {
  u2(0,pi) c; u1(pi/4) c; cx b, c; u1(-pi/4) c; cx a, c; u1(pi/4) c; cx b, c; u1(-pi/4) c;
  u2(0,pi) c;
}
gate rc3x a,b,c,d {
  u2(0,pi) d; u1(pi/4) d; cx c,d; u1(-pi/4) d; u2(0,pi) d; cx a,d; u1(pi/4) d; cx b,d;
  u1(-pi/4) d; cx a,d; u1(pi/4) d; cx b,d; u1(-pi/4) d; u2(0,pi) d; u1(pi/4) d; cx c,d;
  u1(-pi/4) d; u2(0,pi) d;
}
gate c3x a,b,c,d {
  h d; p(pi/8) a; p(pi/8) b; p(pi/8) c; p(pi/8) d; cx a, b; p(-pi/8) b; cx a, b; cx b, c;
  p(-pi/8) c; cx a, c; p(pi/8) c; cx b, c; p(-pi/8) c; cx a, c; cx c, d; p(-pi/8) d; cx b, d;
  p(pi/8) d; cx c, d; p(-pi/8) d; cx a, d; p(pi/8) d; cx c, d; p(-pi/8) d; cx b, d; p(pi/8) d;
  cx c, d; p(-pi/8) d; cx a, d; h d;
}
gate c3sqrtx a,b,c,d {
  h d; cu1(pi/8) a,d; h d; cx a,b; h d; cu1(-pi/8) b,d; h d; cx a,b; h d; cu1(pi/8) b,d; h d;
  cx b,c; h d; cu1(-pi/8) c,d; h d; cx a,c; h d; cu1(pi/8) c,d; h d; cx b,c; h d;
  cu1(-pi/8) c,d; h d; cx a,c; h d; cu1(pi/8) c,d; h d;
}
gate c4x a,b,c,d,e {
  h e; cu1(pi/2) d,e; h e; c3x a,b,c,d; h e; cu1(-pi/2) d,e; h e; c3x a,b,c,d; c3sqrtx a,b,c,e;
}
)qasm";

}  // namespace

std::optional<std::string_view> library_source(std::string_view include_name) {
  if (include_name == "stdgates.inc") return STDGATES_INC;
  if (include_name == "qelib1.inc") return QELIB1_INC;
  return std::nullopt;
}

}  // namespace corvane::qasm3::detail::lower
