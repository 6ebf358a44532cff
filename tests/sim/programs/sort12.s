; Bubble sort of 16 unsigned bytes in place at $2000 (copied there first).
        org     $1000
start   lds     #$3000
        ldx     #data
        ldy     #$2000
copy    movb    1,x+,1,y+
        cpx     #data+16
        bne     copy
outer   clrb                    ; B: a swap happened in this pass
        ldx     #$2000
inner   ldaa    0,x
        cmpa    1,x
        bls     inorder
        movb    1,x,0,x         ; swap the pair
        staa    1,x
        incb
inorder inx
        cpx     #$2000+15
        bne     inner
        tstb
        bne     outer
        bgnd

data    fcb     $35,$0A,$F0,$7F,$80,$01,$FF,$00,$35,$42,$99,$10,$C3,$05,$66,$20
