# SPDX-License-Identifier: Apache-2.0
# SPDX-FileCopyrightText: 2026 The Corla developers
# The layers point one way: wire <- net <- discovery <- fleet <- ui <- app. Each of our
# libraries names its layer here, and configuring fails when one links a library of a layer
# above its own. The tools sit beside the layers: each says the highest layer it may use
# (corla-cli's core never reaches the widgets).
#
# A new library is added to CORLA_LAYERS in its layer's list.
set(CORLA_LAYER_NAMES wire net discovery fleet ui app)
set(CORLA_LAYER_wire corla_nethost corla_protocol)
set(CORLA_LAYER_net corla_icmp corla_device corla_net)
set(CORLA_LAYER_discovery corla_wirelog corla_discovery)
set(CORLA_LAYER_fleet corla_fleet corla_commission)
set(CORLA_LAYER_ui corla_widgets corla_window)
set(CORLA_LAYER_app corla_startup corla corla-snapshot)
# Tools: target and the highest layer it may link.
set(CORLA_TOOL_LIMITS corla_clicore=fleet corla-cli=fleet corla_simcore=net corla-sim=net)

function(corla_layer_rank target out)
    set(rank -1)
    set(i 0)
    foreach(layer IN LISTS CORLA_LAYER_NAMES)
        if(target IN_LIST CORLA_LAYER_${layer})
            set(rank ${i})
        endif()
        math(EXPR i "${i} + 1")
    endforeach()
    set(${out} ${rank} PARENT_SCOPE)
endfunction()

function(corla_check_layers)
    set(checked)
    foreach(layer IN LISTS CORLA_LAYER_NAMES)
        foreach(target IN LISTS CORLA_LAYER_${layer})
            list(APPEND checked "${target}=${layer}")
        endforeach()
    endforeach()
    list(APPEND checked ${CORLA_TOOL_LIMITS})
    foreach(entry IN LISTS checked)
        string(REPLACE "=" ";" pair "${entry}")
        list(GET pair 0 target)
        list(GET pair 1 limit)
        if(NOT TARGET ${target})
            continue() # not in this build (wire-only builds)
        endif()
        list(FIND CORLA_LAYER_NAMES ${limit} own)
        get_target_property(links ${target} LINK_LIBRARIES)
        get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
        foreach(dep IN LISTS links interface)
            corla_layer_rank("${dep}" rank)
            if(rank GREATER own)
                list(GET CORLA_LAYER_NAMES ${rank} above)
                message(FATAL_ERROR "Layer check: ${target} (${limit}) links ${dep}, which is "
                                    "in the layer ${above} above it")
            endif()
        endforeach()
    endforeach()
endfunction()
