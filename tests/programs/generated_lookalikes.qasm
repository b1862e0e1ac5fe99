// expect: ok
// Only the exporter's exact form is recognised: other names and arguments give blocks.
qubit[1] q;
gate sqrty_007 a0 { sdg   a0; h a0 ; s a0;; h a0; s a0; }
gate sqrty a0 { sdg a0; h a0; s a0; h a0; s a0; }
gate sqrty_1 b { sdg b; h b; s b; h b; s b; }
gate sqrtx_3 a0 { h a0; s a0; h a0; }
sqrty_007 q[0];
sqrty q[0];
sqrty_1 q[0];
sqrtx_3 q[0];
